// One address-book record, and the unit in which destinations travel
// through the program (a recipient is a Contact).
#pragma once

#include <filesystem>
#include <list>
#include <map>
#include <string>
#include <vector>

namespace miravo {

enum ContactKind : int { Single = 0, Group = 1 };
enum ContactState : int { New = 0, Synced = 1, Changed = 2, Deleted = 3 };

struct Contact {
    int kind = Group;
    int state = Synced;
    std::u16string id;
    std::u16string name;
    std::u16string number;
    std::u16string gsmnumber;
    std::u16string groupid;
    std::u16string groupname;
    std::vector<std::u16string> members;

    // Entry form: a single, synchronised contact outside any group.
    static Contact entry(std::u16string id, std::u16string name, std::u16string number,
                         std::u16string gsmnumber) {
        Contact c;
        c.kind = Single;
        c.state = Synced;
        c.id = std::move(id);
        c.name = std::move(name);
        c.number = std::move(number);
        c.gsmnumber = std::move(gsmnumber);
        c.groupid = std::u16string(1, u'0');  // GCC 12 warns falsely on "= u\"0\""
        return c;
    }

    // Full form: the caller then sets kind, state and members as it needs.
    static Contact full(std::u16string id, std::u16string name, std::u16string number,
                        std::u16string gsmnumber, std::u16string groupid,
                        std::u16string groupname) {
        Contact c;
        c.kind = Group;
        c.state = Synced;
        c.id = std::move(id);
        c.name = std::move(name);
        c.number = std::move(number);
        c.gsmnumber = std::move(gsmnumber);
        c.groupid = std::move(groupid);
        c.groupname = std::move(groupname);
        return c;
    }

    bool operator==(const Contact&) const = default;
};

using Recipient = Contact;

// What an imported card gave for one of the book's contacts, so that an
// export can give it back: the name as the card wrote it (the book cannot
// hold every character, nor every length) and the kind of its number.
struct CardOrigin {
    std::u16string name;   // the card's name
    std::u16string types;  // the number's TEL types as written back ("fax,work"); empty: no type
    bool operator==(const CardOrigin&) const = default;
};

// The key of a contact in ContactBook::cards: its name and number.
inline std::u16string CardKey(const std::u16string& name, const std::u16string& number) {
    return name + u'\n' + number;
}

struct ContactBook {
    // Every record in file order; records are erased in place.
    std::list<Contact> contacts;
    // Group name -> member numbers; keys compare as UTF-16 code units.
    std::map<std::u16string, std::vector<std::u16string>> groups;
    // Local changes the service has not received yet.
    bool modified = false;
    // Contacts that came from vCards, by CardKey: kept beside the book
    // file, used while the book still holds the name and number the import
    // gave; synchronisation leaves them.
    std::map<std::u16string, CardOrigin> cards;

    // Replaces contacts and groups with what "contacts.csv" in the
    // application-data folder holds; a missing or unreadable file gives an
    // empty book (ContactStore.h).
    void load();
    // Writes the whole book to that file in one atomic replacement; false
    // when it could not be written (the old file then stays as it was). A
    // file that did not load whole is first kept aside; its copy's path
    // goes into `keptAside` (ContactStore.h).
    bool save(std::filesystem::path* keptAside = nullptr) const;
};

}  // namespace miravo
