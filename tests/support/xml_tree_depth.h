#pragma once
// The deepest element nesting of a document TinyXML has parsed, walked without recursion: what the loaders'
// nesting guard must agree with.
#include <tinyxml.h>

#include <utility>
#include <vector>

namespace qvtest {

inline int xmlTreeDepth(const TiXmlNode* top) {
    int deepest = 0;
    std::vector<std::pair<const TiXmlNode*, int>> stack{{top, 0}};
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        for (const TiXmlNode* c = node->FirstChild(); c; c = c->NextSibling()) {
            const int d = depth + (c->ToElement() ? 1 : 0);
            if (d > deepest) deepest = d;
            stack.push_back({c, d});
        }
    }
    return deepest;
}

}  // namespace qvtest
