#pragma once

#include <libxml/tree.h>

namespace tarvik {

// Walking and reading libxml2 trees. Stateless; every operation is static.
class XmlTools {
public:
    // Lazily created process-wide instance (kept for callers that want an
    // object; the operations themselves are static).
    static XmlTools* getInstance();

    // `node` itself when it is an element, else the first element among its
    // following siblings, else null.
    static xmlNode* getElementNode(xmlNode* node);

    // The node's whole text content (all descendant text) as a heap copy to
    // release with free; null for a null node or an empty content.
    static char* getElementContent(xmlNode* node);
};

}  // namespace tarvik
