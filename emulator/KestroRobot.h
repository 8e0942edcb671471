#pragma once

#include <map>
#include <string>

#include "util/AbstractXmlParser.h"
#include "util/CText.h"

namespace tarvik {

// The script that stands in for the caller and the switch in the emulated
// session: keypad answers by input name ("inputs" section) and start-up or
// channel variables ("agis" section), read from an XML robot file.
//
//   <kestro-agi>
//     <inputs><input variable="document" value="12345678909"/></inputs>
//     <agis><agi variable="agi_callerid" value="5511999990000"/></agis>
//   </kestro-agi>
class KestroRobot : public AbstractXmlParser {
public:
    KestroRobot() = default;
    ~KestroRobot() = default;

    KestroRobot(const KestroRobot&) = delete;
    KestroRobot& operator=(const KestroRobot&) = delete;

    // Reads "./name" (or "./name.xml" when the name has no dot), falling back
    // to the installed template directory; an absolute name is read as it
    // stands (with ".xml" only when no such file exists and it has no dot).
    // Adds to and overwrites what is loaded already. False on any failure,
    // whose reason getLoadFailure then gives; never throws.
    bool load(const char* name);
    // One line saying why the last load failed; empty after a good one.
    const char* getLoadFailure() const { return loadFailure.c_str(); }

    bool loadFromXML(xmlNode* root) override;
    // Writing a robot file is not provided.
    bool toXML(const char* target) override;

    // Borrowed texts, or null.
    const char* getVariableValue(const char* name) const;
    const char* getAsteriskVariableValue(const char* name) const;

    // Store a copy of value (none when null) under name; false for a null name.
    bool setVariable(const char* name, const char* value);
    bool setVariableAgi(const char* name, const char* value);

    const char* getFilename() const { return filename.get(); }
    void setFilename(const char* name) { filename.reset(duplicateText(name)); }

    // Where a name not found under the working directory is looked for.
    static constexpr const char* kTemplateDirectory = "/etc/tarvik/kestro/agi/template/";

private:
    using Values = std::map<std::string, CText>;

    void parseFile(const std::string& path);
    [[noreturn]] static void unreadable(const char* name, const std::string& tried);
    bool readSection(xmlNode* section, const char* entryName, Values& values);
    static bool readEntry(xmlNode* entry, CText& name, CText& value);
    static const char* lookUp(const Values& values, const char* name);
    static bool store(Values& values, const char* name, const char* value);

    CText filename;
    std::string loadFailure;
    Values inputs;
    Values agiVariables;
};

}  // namespace tarvik
