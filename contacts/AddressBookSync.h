// Address-book synchronisation without the network: the form fields of the
// two requests ("get_address_book" and "update_address_book") and the merge
// that rebuilds the local book from the service's answer. The service holds
// the master copy: a successful answer replaces the whole book.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/Contact.h"

namespace miravo {

// Room of each field read from the answer, terminator included: a value
// keeps at most room - 1 characters.
inline constexpr std::size_t kAnswerIdRoom = 10;      // ID, GROUPID
inline constexpr std::size_t kAnswerNumberRoom = 30;  // NUMBER, GSMNUMBER
inline constexpr std::size_t kAnswerNameRoom = 60;    // NAME, GROUPNAME

// One form field of a request, in the order it is posted.
struct FormField {
    std::u16string name;
    std::u16string value;
    bool operator==(const FormField&) const = default;
};

// "action" = "get_address_book", "username", "password". Fields whose value
// is empty are left out, as the multipart form leaves them out.
std::vector<FormField> AddressBookFetchFields(std::u16string_view userName,
                                              std::u16string_view password);

// "action" = "update_address_book", "username", "password", then for every
// single contact (kind 0) whose state is not Synced, in book order with an
// index i that counts only the contacts sent, "contacts[i][id]",
// "contacts[i][name]", "contacts[i][number]" and "contacts[i][gsmnumber]":
//  - a New contact goes with id "0", whatever its id holds;
//  - a Deleted contact goes with its id alone;
//  - a Deleted contact without a service id (empty or "0") is not sent:
//    the service has nothing to delete, and an id "0" alone would ask it
//    to create an empty contact.
// Groups and Synced contacts are never sent, nor are groupid and groupname.
// Fields whose value is empty are left out.
std::vector<FormField> AddressBookUpdateFields(const ContactBook& book,
                                               std::u16string_view userName,
                                               std::u16string_view password);

// Rebuilds `book` from a "get_address_book" or "update_address_book" answer
// (the answer's bytes; a zero byte ends them). Returns false, leaving the
// book exactly as it was, unless the answer parses and the first
// API_RESULT/GET_ADDRESS_BOOK/RESULT is exactly "0". Otherwise `contacts`
// and `groups` are replaced (`modified` is left alone):
//  - the CONTACT elements are read in document order, each field from the
//    contact's own child element, so a contact that lacks an element never
//    takes another contact's value; the list ends at the first CONTACT
//    without an ID (or with an empty one);
//  - a contact with a GROUPNAME adds its NUMBER to that group in `groups`;
//    one without becomes a single contact (kind 0, state Synced) in answer
//    order; contacts without a NUMBER are dropped;
//  - groups made here (group records not in state Synced: by an import or
//    by hand) are kept, since the service never receives them: each keeps
//    those of its members the answer still holds (as a single contact or
//    a group member), after the service's own members when the service
//    has a group of that name; a group left without members goes. They
//    stay in state New, so that the next synchronisation keeps them too;
//  - the groups with members come first, in descending name order, each as
//    a record holding only its name and its members in arrival order.
// Fields keep at most room - 1 characters. Names are cut to fit; an ID or
// NUMBER that does not fit drops the contact instead (a cut one would name
// another contact or dial another number), and a GSMNUMBER that does not
// fit is left empty (an update never sends an empty one, so the service
// keeps its own).
bool MergeAddressBook(ContactBook& book, std::string_view answer);

}  // namespace miravo
