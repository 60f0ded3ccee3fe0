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

// One fax number of a card: a card with several fax numbers gives one
// VCardContact for each.
struct VCardContact {
    std::u16string name;    // FN, else N given names before the family name
    std::u16string number;  // a TEL of type fax, else the card's one TEL that is no mobile
    std::u16string gsmnumber;                  // a TEL of type cell, when it is not `number`
    std::vector<std::u16string> groups;        // CATEGORIES, one group per comma-separated name
    bool numberToCheck = false;                // `number` is not marked as a fax number
    // The number's kind as the card gave it: "work", "home", a label's
    // text, or empty. With several fax numbers the name is shown marked
    // with it ("Anna Berger (work)").
    std::u16string kind{};
    bool marked = false;  // the card has several fax numbers: the name carries `kind`
    // The TEL types an export writes for `number`: "fax" with "work" or
    // "home" when the card gave one; a number not marked fax keeps the
    // types it had.
    std::u16string types{};
};

enum class SkipReason {
    NoNumber,       // the card holds no phone number
    NoFaxNumber,    // several numbers, none of them a fax number
    OnlyMobile,     // mobile numbers only
    NumberTooLong,  // the number does not fit the contact book
    AlreadyThere,   // the contact book holds the same name and number
};

struct SkippedCard {
    std::u16string name;  // empty when the card names nobody
    SkipReason why;
    bool operator==(const SkippedCard&) const = default;
};

struct VCardRead {
    std::vector<VCardContact> contacts;
    std::vector<SkippedCard> skipped;  // cards without a number that could be a fax number
};

// Reads every card of the file's bytes (UTF-8, or UTF-16 with or without a
// byte-order mark; lines ended by CR, LF or any mix of them). Never fails:
// what cannot be read is left out (a card without a name takes its number
// as name).
VCardRead ReadVCards(std::string_view bytes);

// Whether a CATEGORIES value is a label webmail services give every
// contact ("myContacts", "starred"...) rather than a group of the user's.
bool IsSystemLabel(std::u16string_view category);

// One vCard 4.0 per single contact of the book that is not deleted, with
// its number as TEL (TYPE=fax and the kind the card gave when it came from
// a card, TYPE=fax when it was typed here), TEL;TYPE=cell and the groups
// the number belongs to as CATEGORIES; the name the card gave where the
// store still holds what the import made of it. Lines end with CR LF and
// are folded at 75 bytes.
std::string WriteVCards(const ContactBook& book);
std::size_t VCardCount(const ContactBook& book);  // the cards WriteVCards writes

// A name the contact book holds otherwise than the card gave it.
struct ChangedName {
    std::u16string card;    // as the card gave it
    std::u16string stored;  // as the contact book holds it
    bool replaced = false;  // characters the book cannot hold were replaced
    bool cut = false;       // too long: cut and ended with "…"
};

struct VCardImport {
    std::size_t added = 0;
    std::size_t alreadyThere = 0;           // same name and number in the book
    std::vector<std::u16string> toCheck;    // names whose number was not marked fax
    std::vector<SkippedCard> skipped;       // contacts left out, and why
    std::vector<ChangedName> changed;       // names kept otherwise than given
};

// Adds the contacts to the book as new contacts (sent at the next
// synchronisation) and their numbers to the groups they name; the fields
// are made storable in contacts.csv, a name too long for it is cut and
// ends with "…". What the card gave goes into `book.cards` so that an
// export gives it back. Sets `modified` when anything was added.
VCardImport AddVCardContacts(ContactBook& book, const std::vector<VCardContact>& contacts);

}  // namespace miravo
