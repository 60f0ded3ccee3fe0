#include "contacts/AddressBookSync.h"

#include <pugixml.hpp>

#include <new>
#include <optional>
#include <set>

#include "app/Text.h"
#include "service/AnswerDocument.h"

namespace miravo {

namespace {

void addField(std::vector<FormField>& fields, std::u16string name, std::u16string_view value) {
    if (!value.empty())
        fields.push_back({std::move(name), std::u16string(value)});
}

std::u16string indexedName(std::size_t index, std::u16string_view key) {
    std::u16string name = u"contacts[";
    name.append(toU16(static_cast<long>(index)));
    name.append(u"][");
    name.append(key);
    name.push_back(u']');
    return name;
}

std::u16string childText(pugi::xml_node parent, const char* name) {
    const pugi::xml_node child = parent.child(name);
    return child ? fromUtf8(ElementText(child)) : std::u16string();
}

bool fits(const std::u16string& text, std::size_t room) {
    return text.size() < room;
}

// At most room - 1 code units, never ending inside a surrogate pair.
void cutToRoom(std::u16string& text, std::size_t room) {
    if (text.size() < room)
        return;
    std::size_t length = room - 1;
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF)
        --length;
    text.resize(length);
}

struct AnswerContact {
    std::u16string id, gsmnumber, number, name, groupid, groupname;
};

}  // namespace

std::vector<FormField> AddressBookFetchFields(std::u16string_view userName,
                                              std::u16string_view password) {
    std::vector<FormField> fields;
    addField(fields, u"action", u"get_address_book");
    addField(fields, u"username", userName);
    addField(fields, u"password", password);
    return fields;
}

std::vector<FormField> AddressBookUpdateFields(const ContactBook& book,
                                               std::u16string_view userName,
                                               std::u16string_view password) {
    std::vector<FormField> fields;
    addField(fields, u"action", u"update_address_book");
    addField(fields, u"username", userName);
    addField(fields, u"password", password);
    std::size_t index = 0;
    for (const Contact& c : book.contacts) {
        if (c.kind != Single || c.state == Synced)
            continue;
        if (c.state == Deleted) {
            if (c.id.empty() || c.id == u"0")
                continue;
            addField(fields, indexedName(index, u"id"), c.id);
        } else {
            addField(fields, indexedName(index, u"id"), c.state == New ? u"0" : c.id);
            addField(fields, indexedName(index, u"name"), c.name);
            addField(fields, indexedName(index, u"number"), c.number);
            addField(fields, indexedName(index, u"gsmnumber"), c.gsmnumber);
        }
        ++index;
    }
    return fields;
}

bool MergeAddressBook(ContactBook& book, std::string_view answer) try {
    answer = answer.substr(0, answer.find('\0'));
    pugi::xml_document document;
    if (!LoadAnswerDocument(document, answer))
        return false;
    const pugi::xml_node root = document.child("API_RESULT");

    std::optional<std::u16string> result;
    for (pugi::xml_node action : root.children("GET_ADDRESS_BOOK")) {
        if (const pugi::xml_node node = action.child("RESULT")) {
            result = fromUtf8(ElementText(node));
            break;
        }
    }
    if (result != u"0")
        return false;

    std::list<Contact> contacts;
    std::map<std::u16string, std::vector<std::u16string>> groups;
    bool ended = false;
    for (pugi::xml_node action : root.children("GET_ADDRESS_BOOK")) {
        for (pugi::xml_node element : action.children("CONTACT")) {
            AnswerContact a;
            a.id = childText(element, "ID");
            if (a.id.empty()) {
                ended = true;
                break;
            }
            a.gsmnumber = childText(element, "GSMNUMBER");
            a.number = childText(element, "NUMBER");
            a.name = childText(element, "NAME");
            a.groupid = childText(element, "GROUPID");
            a.groupname = childText(element, "GROUPNAME");

            if (a.number.empty() || !fits(a.number, kAnswerNumberRoom))
                continue;
            cutToRoom(a.groupname, kAnswerNameRoom);
            if (!a.groupname.empty()) {
                groups[a.groupname].push_back(std::move(a.number));
                continue;
            }
            if (!fits(a.id, kAnswerIdRoom))
                continue;
            if (!fits(a.gsmnumber, kAnswerNumberRoom))
                a.gsmnumber.clear();
            cutToRoom(a.name, kAnswerNameRoom);
            cutToRoom(a.groupid, kAnswerIdRoom);
            Contact single = Contact::full(std::move(a.id), std::move(a.name), std::move(a.number),
                                           std::move(a.gsmnumber), std::move(a.groupid), u"");
            single.kind = Single;
            single.state = Synced;
            contacts.push_back(std::move(single));
        }
        if (ended)
            break;
    }

    // The service never receives groups made here (by an import or by
    // hand), so they are applied again to the numbers it returned.
    std::set<std::u16string> returned;
    for (const Contact& c : contacts)
        returned.insert(c.number);
    for (const auto& [name, members] : groups)
        returned.insert(members.begin(), members.end());
    std::set<std::u16string> local;
    for (const Contact& old : book.contacts) {
        if (old.kind != Group || old.state == Synced || old.groupname.empty())
            continue;
        std::vector<std::u16string>& members = groups[old.groupname];
        std::set<std::u16string> present(members.begin(), members.end());
        for (const std::u16string& number : old.members)
            if (returned.contains(number) && present.insert(number).second)
                members.push_back(number);
        if (members.empty())
            groups.erase(old.groupname);
        else
            local.insert(old.groupname);
    }

    // Inserting each group at the front in ascending key order leaves them
    // in descending order ahead of the single contacts.
    for (const auto& [name, members] : groups) {
        Contact group = Contact::full(u"", u"", u"", u"", u"", name);
        group.kind = Group;
        group.state = local.contains(name) ? New : Synced;
        group.members = members;
        contacts.push_front(std::move(group));
    }
    book.contacts = std::move(contacts);
    book.groups = std::move(groups);
    return true;
} catch (const std::bad_alloc&) {
    return false;
}

}  // namespace miravo
