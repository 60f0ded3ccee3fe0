#include "server/Answer.h"

#include <sstream>

namespace miravo::server {

AnswerXml::AnswerXml() {
    auto decl = doc_.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    root_ = doc_.append_child("API_RESULT");
}

pugi::xml_node AnswerXml::section(std::string_view name) {
    const std::string key(name);
    pugi::xml_node node = root_.child(key.c_str());
    if (!node)
        node = root_.append_child(key.c_str());
    return node;
}

void AnswerXml::setResult(std::string_view sectionName, bool ok) {
    pugi::xml_node node = section(sectionName);
    pugi::xml_node result = node.child("RESULT");
    if (!result)
        result = node.prepend_child("RESULT");
    result.text().set(ok ? "0" : "1");
}

void AnswerXml::setError(int code) {
    error_ = code;
    pugi::xml_node node = root_.child("ERROR");
    if (!node)
        node = root_.prepend_child("ERROR");
    node.text().set(code);
}

pugi::xml_node AnswerXml::addText(pugi::xml_node parent, std::string_view name,
                                  std::string_view text) {
    pugi::xml_node node = parent.append_child(std::string(name).c_str());
    node.text().set(std::string(text).c_str());
    return node;
}

Answer AnswerXml::finish(std::string_view action) {
    std::ostringstream out;
    doc_.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    Answer answer;
    answer.body = out.str();
    answer.error = error_;
    answer.action = std::string(action);
    return answer;
}

Answer errorAnswer(int code, std::string_view action, std::string_view section) {
    AnswerXml xml;
    xml.setError(code);
    if (!section.empty())
        xml.setResult(section, false);
    return xml.finish(action);
}

}  // namespace miravo::server
