#include "emulator/KestroRobot.h"

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "agi/KestroAgiException.h"
#include "util/XmlTools.h"

namespace tarvik {

namespace {

// Resolved robot paths live in a 1024-byte buffer; a name that does not fit
// is refused rather than cut into a different path.
constexpr std::size_t kPathBufferSize = 1024;

struct DocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using Document = std::unique_ptr<xmlDoc, DocumentDeleter>;

bool named(const xmlNode* node, const char* name) {
    return xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

std::string checkedPath(std::string path) {
    if (path.size() >= kPathBufferSize) throw KestroAgiException(409, "Filename is too long");
    return path;
}

bool canOpen(const std::string& path) {
    std::FILE* probe = std::fopen(path.c_str(), "r");
    if (probe == nullptr) return false;
    std::fclose(probe);
    return true;
}

// The attribute's text with entity references substituted, as a malloc copy.
CText attributeText(xmlAttr* attribute) {
    xmlChar* text = xmlNodeListGetString(attribute->doc, attribute->children, 1);
    if (text == nullptr) return CText();
    CText copy(strdup(reinterpret_cast<const char*>(text)));
    xmlFree(text);
    return copy;
}

bool isFilled(const CText& text) { return text && text.get()[0] != '\0'; }

}  // namespace

bool KestroRobot::load(const char* name) {
    bool loaded = false;
    loadFailure.clear();
    try {
        if (name == nullptr) throw KestroAgiException(409, "Filename is null");
        // "./name" as it stands when it has a dot, else with ".xml".
        const std::string local = std::string(name) + (std::strchr(name, '.') ? "" : ".xml");
        std::string path;
        if (name[0] == '/') {
            // An absolute path names its file: read as it stands when it
            // exists, else completed as a local name would be.
            path = checkedPath(canOpen(name) ? std::string(name) : local);
            if (!canOpen(path)) unreadable(name, path == name ? path : std::string(name) + " and " + path);
        } else {
            path = checkedPath("./" + local);
            if (!canOpen(path)) {
                const std::string installed = checkedPath(std::string(kTemplateDirectory) + name + ".xml");
                if (!canOpen(installed)) unreadable(name, path + " and " + installed);
                path = installed;
            }
        }
        parseFile(path);
        loaded = true;
    } catch (const KestroAgiException& failure) {
        loadFailure = failure.what();
    } catch (const std::exception& failure) {
        loadFailure = failure.what();
    }
    xmlCleanupParser();
    xmlMemoryDump();
    return loaded;
}

// Throws the reason the file at `tried` (one path or several) cannot be
// opened, with errno as the last attempt left it.
void KestroRobot::unreadable(const char* name, const std::string& tried) {
    const int error = errno;
    if (tried == name) throw KestroAgiException(409, "robot file %s cannot be read: %s", name, std::strerror(error));
    throw KestroAgiException(409, "robot file %s cannot be read: %s (looked for %s)", name, std::strerror(error),
                             tried.c_str());
}

void KestroRobot::parseFile(const std::string& path) {
    xmlInitParser();
    // No network access while reading a local script; the reason of a
    // failure is the one line the load gives, not libxml2's own output.
    Document document(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!document) throw KestroAgiException(409, "robot file %s is not well-formed XML", path.c_str());
    xmlNode* root = xmlDocGetRootElement(document.get());
    if (root == nullptr) throw KestroAgiException(409, "robot file %s has no root element", path.c_str());
    if (!named(root, "kestro-agi")) {
        throw KestroAgiException(409, "robot file %s: expected root element <kestro-agi>, found <%s>", path.c_str(),
                                 reinterpret_cast<const char*>(root->name));
    }
    setFilename(path.c_str());
    if (!loadFromXML(root)) {
        throw KestroAgiException(409, "robot file %s: only <inputs> and <agis> sections may stand under <kestro-agi>",
                                 path.c_str());
    }
}

bool KestroRobot::loadFromXML(xmlNode* root) {
    if (root == nullptr) return false;
    for (xmlNode* section = XmlTools::getElementNode(root->children); section != nullptr;
         section = XmlTools::getElementNode(section->next)) {
        if (named(section, "inputs")) {
            readSection(section, "input", inputs);
        } else if (named(section, "agis")) {
            readSection(section, "agi", agiVariables);
        } else {
            // Sections read so far stay loaded.
            return false;
        }
    }
    return true;
}

bool KestroRobot::toXML(const char*) { return false; }

// Reads entries until the first element that is not an entry or cannot be
// read; the rest of that section is skipped without failing the load.
bool KestroRobot::readSection(xmlNode* section, const char* entryName, Values& values) {
    for (xmlNode* entry = XmlTools::getElementNode(section->children); entry != nullptr;
         entry = XmlTools::getElementNode(entry->next)) {
        if (!named(entry, entryName)) return false;
        CText name;
        CText value;
        if (!readEntry(entry, name, value)) return false;
        if (isFilled(name) && isFilled(value)) store(values, name.get(), value.get());
    }
    return true;
}

// An entry carries only "variable" and "value"; any other attribute makes
// it unreadable.
bool KestroRobot::readEntry(xmlNode* entry, CText& name, CText& value) {
    for (xmlAttr* attribute = entry->properties; attribute != nullptr; attribute = attribute->next) {
        if (xmlStrcmp(attribute->name, reinterpret_cast<const xmlChar*>("variable")) == 0) {
            name = attributeText(attribute);
        } else if (xmlStrcmp(attribute->name, reinterpret_cast<const xmlChar*>("value")) == 0) {
            value = attributeText(attribute);
        } else {
            return false;
        }
    }
    return true;
}

const char* KestroRobot::lookUp(const Values& values, const char* name) {
    if (name == nullptr) return nullptr;
    auto found = values.find(name);
    return found == values.end() ? nullptr : found->second.get();
}

bool KestroRobot::store(Values& values, const char* name, const char* value) {
    if (name == nullptr) return false;
    values[name].reset(duplicateText(value));
    return true;
}

const char* KestroRobot::getVariableValue(const char* name) const { return lookUp(inputs, name); }

const char* KestroRobot::getAsteriskVariableValue(const char* name) const { return lookUp(agiVariables, name); }

bool KestroRobot::setVariable(const char* name, const char* value) { return store(inputs, name, value); }

bool KestroRobot::setVariableAgi(const char* name, const char* value) { return store(agiVariables, name, value); }

}  // namespace tarvik
