#include "util/XmlTools.h"

#include <cstring>

namespace tarvik {

XmlTools* XmlTools::getInstance() {
    static XmlTools instance;
    return &instance;
}

xmlNode* XmlTools::getElementNode(xmlNode* node) {
    for (xmlNode* current = node; current != nullptr; current = current->next) {
        if (current->type == XML_ELEMENT_NODE) return current;
    }
    return nullptr;
}

char* XmlTools::getElementContent(xmlNode* node) {
    if (node == nullptr) return nullptr;
    xmlChar* content = xmlNodeGetContent(node);
    if (content == nullptr) return nullptr;
    // libxml2 allocates with its own allocator; callers release with free,
    // so hand out a malloc copy.
    char* copy = nullptr;
    if (content[0] != '\0') copy = strdup(reinterpret_cast<const char*>(content));
    xmlFree(content);
    return copy;
}

}  // namespace tarvik
