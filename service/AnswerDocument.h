// The service's answer as one XML document. An answer is usable only when
// its bytes are exactly one well-formed document: one root element, with
// nothing but white space, comments, processing instructions and a
// document type around it. Text before or after the root ("...</API_RESULT>
// junk"), a second root, or a document cut short is no answer at all.
//
// Nothing here walks the tree by recursion: an answer may nest elements as
// deep as its size allows (hundreds of thousands within the 1 MiB cap).
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace miravo {

// Parses `bytes` into `document` (no entity expansion from a document type);
// false when they are not exactly one well-formed document.
bool LoadAnswerDocument(pugi::xml_document& document, std::string_view bytes);

// All text and CDATA inside the element, descendants included, in document
// order (UTF-8, as parsed).
std::string ElementText(const pugi::xml_node& element);

}  // namespace miravo
