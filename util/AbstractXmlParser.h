#pragma once

#include <libxml/tree.h>

namespace tarvik {

// Objects that load themselves from a parsed libxml2 tree (the robot file,
// the XML request descriptions). Owners delete the concrete type, so the
// destructor is protected and not virtual: deleting through this interface
// does not compile.
class AbstractXmlParser {
public:
    virtual bool loadFromXML(xmlNode* node) = 0;
    virtual bool toXML(const char* target) = 0;

protected:
    AbstractXmlParser() = default;
    AbstractXmlParser(const AbstractXmlParser&) = default;
    AbstractXmlParser& operator=(const AbstractXmlParser&) = default;
    ~AbstractXmlParser() = default;
};

}  // namespace tarvik
