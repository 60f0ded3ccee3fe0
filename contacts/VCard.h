// Contacts in and out as vCard: reads versions 2.1 (quoted-printable and
// CHARSET, as phones export them), 3.0 and 4.0, several cards per file;
// writes 4.0. Only what the contact book holds travels: the name, the fax
// number, a mobile number and the groups.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/Contact.h"

namespace miravo {

struct VCardContact {
    std::u16string name;    // FN, else N given names before the family name
    std::u16string number;  // the TEL of type fax, else the card's only TEL
    std::u16string gsmnumber;                  // a TEL of type cell, when it is not `number`
    std::vector<std::u16string> groups;        // CATEGORIES
    bool numberToCheck = false;                // `number` is not marked as a fax number
};

struct VCardRead {
    std::vector<VCardContact> contacts;
    // Cards without a usable number: no fax number and not exactly one TEL.
    std::vector<std::u16string> withoutNumber;
};

// Reads every card of the file's bytes. Never fails: what cannot be read
// is left out (a card without a name takes its number as name).
VCardRead ReadVCards(std::string_view bytes);

// One vCard 4.0 per single contact of the book that is not deleted, with
// TEL;TYPE=fax, TEL;TYPE=cell and the groups the number belongs to as
// CATEGORIES; lines end with CR LF and are folded at 75 bytes.
std::string WriteVCards(const ContactBook& book);
std::size_t VCardCount(const ContactBook& book);  // the cards WriteVCards writes

struct VCardImport {
    std::size_t added = 0;
    std::size_t alreadyThere = 0;           // same name and number in the book
    std::vector<std::u16string> toCheck;    // names whose number was not marked fax
};

// Adds the contacts to the book as new contacts (sent at the next
// synchronisation) and their numbers to the groups they name; the fields
// are made storable in contacts.csv. Sets `modified` when anything was added.
VCardImport AddVCardContacts(ContactBook& book, const std::vector<VCardContact>& contacts);

}  // namespace miravo
