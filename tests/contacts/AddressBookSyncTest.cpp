#include "contacts/AddressBookSync.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace miravo {
namespace {

using Fields = std::vector<FormField>;

Contact single(int state, std::u16string id, std::u16string name, std::u16string number,
               std::u16string gsm = u"") {
    Contact c = Contact::entry(std::move(id), std::move(name), std::move(number), std::move(gsm));
    c.state = state;
    return c;
}

std::vector<Contact> records(const ContactBook& book) {
    return {book.contacts.begin(), book.contacts.end()};
}

struct AnswerContact {
    std::string id, gsm, number, name, groupid, groupname;
};

std::string contactXml(const AnswerContact& c) {
    return "<CONTACT><ID>" + c.id + "</ID><GSMNUMBER>" + c.gsm + "</GSMNUMBER><NUMBER>" + c.number +
           "</NUMBER><NAME>" + c.name + "</NAME><GROUPID>" + c.groupid + "</GROUPID><GROUPNAME>" +
           c.groupname + "</GROUPNAME></CONTACT>";
}

std::string answer(const std::vector<AnswerContact>& contacts, const std::string& result = "0") {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<API_RESULT><GET_ADDRESS_BOOK>"
        "<RESULT>" +
        result + "</RESULT>";
    for (const auto& c : contacts)
        xml += contactXml(c);
    return xml + "</GET_ADDRESS_BOOK></API_RESULT>";
}

ContactBook localBook() {
    ContactBook book;
    book.contacts.push_back(single(New, u"0", u"Fresh", u"100"));
    book.contacts.push_back(single(Synced, u"7", u"Kept", u"200"));
    book.groups[u"Local"] = {u"300"};
    book.modified = true;
    return book;
}

// ---- Request fields -----------------------------------------------------

TEST(AddressBookRequestTest, FetchSendsActionAndCredentials) {
    EXPECT_EQ(
        AddressBookFetchFields(u"ann", u"pw"),
        (Fields{{u"action", u"get_address_book"}, {u"username", u"ann"}, {u"password", u"pw"}}));
    EXPECT_EQ(AddressBookFetchFields(u"", u""), (Fields{{u"action", u"get_address_book"}}));
}

TEST(AddressBookRequestTest, UpdateSendsOnlyLocalChangesWithGapFreeIndexes) {
    ContactBook book;
    Contact group = Contact::full(u"", u"", u"", u"", u"", u"Team");
    group.members = {u"1"};
    book.contacts.push_back(group);
    book.contacts.push_back(single(Synced, u"5", u"Same", u"555"));
    book.contacts.push_back(single(New, u"99", u"Ann", u"111"));  // id ignored: new
    book.contacts.push_back(single(Changed, u"12", u"Bob", u"222", u"+49170"));
    Contact changedGroup = group;
    changedGroup.state = Changed;  // groups are never sent, whatever their state
    book.contacts.push_back(changedGroup);
    book.contacts.push_back(single(Deleted, u"0", u"Gone", u"333"));  // unknown to the service
    book.contacts.push_back(single(Deleted, u"", u"Gone", u"334"));
    book.contacts.push_back(single(Deleted, u"13", u"Cy", u"444", u"+49171"));
    book.contacts.push_back(single(New, u"0", u"", u"666"));

    EXPECT_EQ(AddressBookUpdateFields(book, u"ann", u"pw"),
              (Fields{{u"action", u"update_address_book"},
                      {u"username", u"ann"},
                      {u"password", u"pw"},
                      {u"contacts[0][id]", u"0"},
                      {u"contacts[0][name]", u"Ann"},
                      {u"contacts[0][number]", u"111"},
                      {u"contacts[1][id]", u"12"},
                      {u"contacts[1][name]", u"Bob"},
                      {u"contacts[1][number]", u"222"},
                      {u"contacts[1][gsmnumber]", u"+49170"},
                      {u"contacts[2][id]", u"13"},
                      {u"contacts[3][id]", u"0"},
                      {u"contacts[3][number]", u"666"}}));

    // After a merge every record is synchronised: only the leading fields.
    for (Contact& c : book.contacts)
        c.state = Synced;
    EXPECT_EQ(AddressBookUpdateFields(book, u"ann", u"pw").size(), 3u);
}

// ---- Merging the answer ---------------------------------------------------

TEST(AddressBookMergeTest, OnlyResultZeroReplacesTheBook) {
    const ContactBook before = localBook();
    const std::vector<AnswerContact> one = {{"1", "", "42", "X", "0", ""}};
    for (const std::string& bad :
         {answer(one, "1"), answer(one, "00"), answer(one, " 0"), answer(one, ""),
          std::string("<API_RESULT><ERROR>107</ERROR></API_RESULT>"), std::string(),
          // Cut short after the verdict and one contact: never a partial book.
          answer({{"1", "", "42", "X", "0", ""}, {"2", "", "43", "Y", "0", ""}}).substr(0, 230),
          std::string("<OTHER><GET_ADDRESS_BOOK><RESULT>0</RESULT>"
                      "</GET_ADDRESS_BOOK></OTHER>"),
          std::string("\0", 1) + answer(one), std::string("not xml at all"),
          // Text around the root: no single document.
          answer(one) + "junk", "junk" + answer(one), answer(one) + "<API_RESULT/>"}) {
        ContactBook book = localBook();
        EXPECT_FALSE(MergeAddressBook(book, bad)) << bad;
        EXPECT_EQ(records(book), records(before));
        EXPECT_EQ(book.groups, before.groups);
        EXPECT_TRUE(book.modified);
    }
}

TEST(AddressBookMergeTest, DeeplyNestedValuesAreReadWithoutRecursion) {
    // 140,000 nested elements inside a NAME (about 1 MB): read as its text.
    const int depth = 140000;
    std::string name;
    for (int i = 0; i < depth; ++i)
        name += "<b>";
    name += "Deep";
    for (int i = 0; i < depth; ++i)
        name += "</b>";
    ContactBook book = localBook();
    ASSERT_TRUE(MergeAddressBook(book, answer({{"1", "", "42", name, "0", ""}})));
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(book.contacts.front().name, u"Deep");
}

TEST(AddressBookMergeTest, AnAnswerWithoutContactsEmptiesTheBook) {
    ContactBook book = localBook();
    ASSERT_TRUE(MergeAddressBook(book, answer({})));
    EXPECT_TRUE(book.contacts.empty());
    EXPECT_TRUE(book.groups.empty());
    EXPECT_TRUE(book.modified);  // left for the dialog to clear
}

TEST(AddressBookMergeTest, GroupsComeFirstInDescendingOrderAndSinglesKeepServiceOrder) {
    ContactBook book = localBook();
    ASSERT_TRUE(MergeAddressBook(book, answer({
                                           {"10", "+49170", "111", "Zed", "3", ""},
                                           {"11", "", "b1", "In B", "1", "B"},
                                           {"12", "", "a1", "In A", "2", "A"},
                                           {"13", "", "b2", "In B too", "1", "B"},
                                           {"14", "", "222", "", "0", ""},
                                           {"15", "", "", "No number", "0", ""},
                                           {"16", "", "", "Member without number", "4", "C"},
                                           {"17", "", "", "", "5", "A"},
                                       })));
    const std::vector<Contact> got = records(book);
    ASSERT_EQ(got.size(), 4u);

    Contact groupB = Contact::full(u"", u"", u"", u"", u"", u"B");
    groupB.members = {u"b1", u"b2"};
    Contact groupA = Contact::full(u"", u"", u"", u"", u"", u"A");
    groupA.members = {u"a1"};
    Contact first = Contact::full(u"10", u"Zed", u"111", u"+49170", u"3", u"");
    first.kind = Single;
    Contact second = Contact::full(u"14", u"", u"222", u"", u"0", u"");
    second.kind = Single;
    EXPECT_EQ(got, (std::vector<Contact>{groupB, groupA, first, second}));

    const std::map<std::u16string, std::vector<std::u16string>> groups = {{u"A", {u"a1"}},
                                                                          {u"B", {u"b1", u"b2"}}};
    EXPECT_EQ(book.groups, groups);
}

TEST(AddressBookMergeTest, TheListEndsAtTheFirstContactWithoutAnId) {
    for (const std::string& end : {std::string("<CONTACT><ID></ID><NUMBER>9</NUMBER></CONTACT>"),
                                   std::string("<CONTACT><NUMBER>9</NUMBER></CONTACT>")}) {
        std::string xml = answer({{"1", "", "11", "One", "0", ""}});
        const std::string after = end + contactXml({"3", "", "33", "Three", "0", ""});
        xml.insert(xml.find("</GET_ADDRESS_BOOK>"), after);
        ContactBook book;
        ASSERT_TRUE(MergeAddressBook(book, xml));
        ASSERT_EQ(book.contacts.size(), 1u) << xml;
        EXPECT_EQ(book.contacts.front().id, u"1");
    }
}

TEST(AddressBookMergeTest, EachContactReadsItsOwnElementsOnly) {
    // The first contact has no GSMNUMBER and its elements in another order;
    // the second one's mobile number must not move up to it.
    const std::string xml =
        "<API_RESULT><GET_ADDRESS_BOOK><RESULT>0</RESULT>"
        "<CONTACT><NAME>One</NAME><NUMBER>11</NUMBER><ID>1</ID></CONTACT>"
        "<CONTACT><ID>2</ID><GSMNUMBER>+49172</GSMNUMBER><NUMBER>22</NUMBER><NAME>Two</NAME>"
        "<GROUPID>0</GROUPID><GROUPNAME></GROUPNAME></CONTACT>"
        "</GET_ADDRESS_BOOK></API_RESULT>";
    ContactBook book;
    ASSERT_TRUE(MergeAddressBook(book, xml));
    const std::vector<Contact> got = records(book);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name, u"One");
    EXPECT_EQ(got[0].gsmnumber, u"");
    EXPECT_EQ(got[0].groupid, u"");
    EXPECT_EQ(got[1].gsmnumber, u"+49172");
    EXPECT_EQ(got[1].name, u"Two");
}

TEST(AddressBookMergeTest, ValuesAreDecodedAndKeptWithinTheirRoom) {
    const std::string name70(70, 'n');
    // A 58-unit name followed by a character outside the BMP: the pair
    // would straddle the cut, so it goes whole.
    const std::string straddle = std::string(58, 's') + "\xF0\x9F\x93\xA0";
    const std::string group70(70, 'g');
    ContactBook book;
    ASSERT_TRUE(MergeAddressBook(
        book, answer({
                  {"1", "", "11", "M&#252;ller &amp; <![CDATA[S\xC3\xB6hne]]>", "0", ""},
                  {"2", "", "22", name70, "12345678901", ""},
                  {"3", "", "33", straddle, "0", ""},
                  {"1234567890", "", "44", "Id too long", "0", ""},
                  {"5", "", std::string(30, '5'), "Number too long", "0", ""},
                  {"6", std::string(30, '6'), "66", "Mobile too long", "0", ""},
                  {"7", "", std::string(29, '7'), "Longest number", "0", ""},
                  {"1234567890", "", "88", "Member", "0", group70},
                  {"9", "", std::string(30, '9'), "Long member", "0", group70},
              })));
    const std::vector<Contact> got = records(book);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].groupname, std::u16string(59, u'g'));
    EXPECT_EQ(got[0].members, (std::vector<std::u16string>{u"88"}));
    EXPECT_EQ(got[1].name, u"M\u00FCller & S\u00F6hne");
    EXPECT_EQ(got[2].name, std::u16string(59, u'n'));
    EXPECT_EQ(got[2].groupid, u"123456789");
    EXPECT_EQ(got[3].name, std::u16string(58, u's'));
    EXPECT_EQ(got[4].id, u"6");
    EXPECT_EQ(got[4].gsmnumber, u"");
    EXPECT_EQ(got[5].number, std::u16string(29, u'7'));
}

TEST(AddressBookMergeTest, AnAnswerCutShortAnywhereLeavesTheBookAlone) {
    const std::string full = answer({{"1", "", "11", "One", "0", ""},
                                     {"2", "", "22", "Two", "3", "G"},
                                     {"3", "+49170", "33", "Three", "0", ""}});
    const ContactBook before = localBook();
    for (std::size_t length = 0; length < full.size(); ++length) {
        ContactBook book = localBook();
        const std::string part = full.substr(0, length);
        const bool complete = part.find("</API_RESULT>") != std::string::npos;
        ASSERT_EQ(MergeAddressBook(book, part), complete) << part;
        if (!complete) {
            ASSERT_EQ(records(book), records(before)) << part;
        }
    }
}

TEST(AddressBookMergeTest, AZeroByteEndsTheAnswer) {
    std::string xml = answer({{"1", "", "11", "One", "0", ""}});
    ContactBook book;
    EXPECT_TRUE(MergeAddressBook(book, xml + std::string("\0garbage<<", 10)));
    EXPECT_EQ(book.contacts.size(), 1u);
}

}  // namespace
}  // namespace miravo
