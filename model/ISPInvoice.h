#pragma once

#include <climits>
#include <string>

namespace tarvik {

// One invoice (boleto) of a contract, as the back office describes it.
class ISPInvoice {
public:
    const std::string& getId() const { return id; }
    void setId(const std::string& value) { id = value; }

    const std::string& getNumber() const { return number; }
    void setNumber(const std::string& value) { number = value; }

    // Stands for a due date the back office sent but that is not a date:
    // the invoice is kept, and the call leaves the date out of its reading.
    static constexpr long kNoDueDate = LONG_MIN;

    // Local midnight of the due day, in seconds since the epoch.
    long getDueDate() const { return dueDate; }
    void setDueDate(long value) { dueDate = value; }
    bool hasDueDate() const { return dueDate != kNoDueDate; }

    double getOriginalPrice() const { return originalPrice; }
    void setOriginalPrice(double value) { originalPrice = value; }

    double getPrice() const { return price; }
    void setPrice(double value) { price = value; }

    // Empty when the invoice can no longer be paid by bar code.
    const std::string& getBarCode() const { return barCode; }
    void setBarCode(const std::string& value) { barCode = value; }

    const std::string& getPdf() const { return pdf; }
    void setPdf(const std::string& value) { pdf = value; }

private:
    std::string id;
    std::string number;
    long dueDate = 0;
    double originalPrice = 0.0;
    double price = 0.0;
    std::string barCode;
    std::string pdf;
};

}  // namespace tarvik
