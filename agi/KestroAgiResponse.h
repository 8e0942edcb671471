#pragma once

namespace tarvik {

// The parsed result of one AGI command, owned by whoever receives it.
class KestroAgiResponse {
public:
    KestroAgiResponse() = default;
    ~KestroAgiResponse();
    KestroAgiResponse(const KestroAgiResponse&) = delete;
    KestroAgiResponse& operator=(const KestroAgiResponse&) = delete;

    int getCode() const { return code; }
    void setCode(int value) { code = value; }
    bool isSuccess() const { return success; }
    void setSuccess(bool value) { success = value; }
    const char* getResult() const { return result; }
    void setResult(const char* text);
    const char* getData() const { return data; }
    void setData(const char* text);

private:
    int code = 0;
    bool success = false;
    char* result = nullptr;
    char* data = nullptr;
};

}  // namespace tarvik
