#include "service/AnswerDocument.h"

namespace miravo {

bool LoadAnswerDocument(pugi::xml_document& document, std::string_view bytes) {
    // As a fragment the parser keeps text found outside the root as nodes of
    // the document, so that it can be refused; white space alone is dropped.
    const pugi::xml_parse_result result =
        document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_fragment,
                             pugi::encoding_auto);
    if (!result)
        return false;
    int roots = 0;
    for (const pugi::xml_node& node : document.children()) {
        switch (node.type()) {
            case pugi::node_element:
                ++roots;
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                return false;
            default:  // declaration, document type, comment, processing instruction
                break;
        }
    }
    return roots == 1;
}

std::string ElementText(const pugi::xml_node& element) {
    const pugi::xml_node first = element.first_child();
    // The common case: one piece of text.
    if (first && !first.next_sibling() &&
        (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata))
        return first.value();
    std::string text;
    pugi::xml_node node = first;
    while (node) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
            text.append(node.value());
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != element && !node.next_sibling())
            node = node.parent();
        if (node == element)
            break;
        node = node.next_sibling();
    }
    return text;
}

}  // namespace miravo
