#include "contacts/VCard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "app/LanguageTable.h"
#include "app/Text.h"
#include "contacts/ContactStore.h"
#include "contacts/VCardFile.h"
#include "tests/TestSupport.h"

namespace miravo {
namespace {

using Names = std::vector<std::u16string>;

struct Expected {
    std::u16string name, number, gsm;
    Names groups;
    bool toCheck = false;
};

// The shapes address books and phones write, each with what must come out.
TEST(VCardReadTest, RealWorldShapes) {
    struct Case {
        const char* what;
        std::string file;
        std::vector<Expected> contacts;
        Names withoutNumber;
    } cases[] = {
        {"phone export, 2.1 quoted-printable UTF-8 with soft line breaks",
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=9F=D0=B5=D1=82=D1=80=D0=BE=D0=B2;=D0=98=\r\n"
         "=D0=B2=D0=B0=D0=BD;;;\r\n"
         "TEL;CELL:+7 912 000-00-01\r\nTEL;WORK;FAX:+7 495 000-00-02\r\nEND:VCARD\r\n",
         {{u"Иван Петров", u"+7 495 000-00-02", u"+7 912 000-00-01", {}}},
         {}},
        {"2.1 with CHARSET=ISO-8859-1 and a bare QUOTED-PRINTABLE",
         "BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=ISO-8859-1;QUOTED-PRINTABLE:J=FCrgen M=FCller\n"
         "TEL;HOME:030 1234567\nEND:VCARD\n",
         {{u"Jürgen Müller", u"030 1234567", u"", {}, true}},
         {}},
        {"2.1 with the encoding in a comma list of types",
         "BEGIN:VCARD\nVERSION:2.1\nFN:Q\nTEL;FAX,QUOTED-PRINTABLE:=2B49 30=20123\nEND:VCARD\n",
         {{u"Q", u"+49 30 123", u"", {}}},
         {}},
        {"a type that only holds the encoding's name, and a value ending in \"=\"",
         "BEGIN:VCARD\nVERSION:2.1\nFN:R\nTEL;FAX,X-NOT-QUOTED-PRINTABLE:+49 30 1=\nEND:VCARD\n",
         {{u"R", u"+49 30 1=", u"", {}}},
         {}},
        {"3.0 with folded lines, grouped properties, several TEL types and escapes",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berger;Anna;;;\r\nFN:Anna Berger\\, Praxis Dr.\r\n"
         "  Berger\r\nORG:Praxis;\r\n"
         "item1.TEL;type=WORK;type=VOICE;type=pref:+49 30 111\r\n"
         "item2.TEL;type=WORK;type=FAX:+49 30 \r\n 222\r\n"
         "TEL;TYPE=CELL,VOICE:+49 170 333\r\nCATEGORIES:Praxen,\r\n\tÄrzte\r\nEND:VCARD\r\n",
         {{u"Anna Berger\u201A Praxis Dr. Berger", u"+49 30 222", u"+49 170 333",
           {u"Praxen", u"Ärzte"}}},
         {}},
        {"4.0 with tel: URIs, quoted TYPE lists and groups",
         "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ольга Смирнова\r\n"
         "TEL;VALUE=uri;TYPE=\"work,fax\":tel:+7-812-555-0101;ext=12\r\n"
         "TEL;VALUE=uri;TYPE=cell:tel:+7-921-555-0102\r\nCATEGORIES:Клиенты,VIP\r\nEND:VCARD\r\n",
         {{u"Ольга Смирнова", u"+7-812-555-0101", u"+7-921-555-0102", {u"Клиенты", u"VIP"}}},
         {}},
        {"several cards, N only, no number to pick, a nested AGENT, no END at the end",
         "\xEF\xBB\xBF" "BEGIN:VCARD\nVERSION:3.0\nN:Weber;Karl;;Dr.;\nTEL;TYPE=fax:0221 99\n"
         "AGENT:BEGIN:VCARD\nBEGIN:VCARD\nFN:Agent\nTEL;TYPE=fax:1\nEND:VCARD\nEND:VCARD\n"
         "BEGIN:VCARD\nVERSION:3.0\nFN:Two Phones\nTEL;TYPE=home:1\nTEL;TYPE=work:2\nEND:VCARD\n"
         "BEGIN:VCARD\nVERSION:3.0\nFN:Last\nTEL;TYPE=FAX:089 1",
         {{u"Dr. Karl Weber", u"0221 99", u"", {}}, {u"Last", u"089 1", u"", {}}},
         {u"Two Phones"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const VCardRead read = ReadVCards(c.file);
        ASSERT_EQ(read.contacts.size(), c.contacts.size());
        for (std::size_t i = 0; i < c.contacts.size(); ++i) {
            const VCardContact& got = read.contacts[i];
            const Expected& want = c.contacts[i];
            ContactBook book;  // what the contact book keeps of it
            const VCardImport added = AddVCardContacts(book, {got});
            ASSERT_EQ(added.added, 1u);
            const Contact& kept = book.contacts.back();
            EXPECT_EQ(toUtf8(kept.name), toUtf8(want.name));
            EXPECT_EQ(toUtf8(kept.number), toUtf8(want.number));
            EXPECT_EQ(toUtf8(kept.gsmnumber), toUtf8(want.gsm));
            EXPECT_EQ(got.groups, want.groups);
            EXPECT_EQ(got.numberToCheck, want.toCheck);
        }
        Names skipped;
        for (const SkippedCard& card : read.skipped)
            skipped.push_back(card.name);
        EXPECT_EQ(skipped, c.withoutNumber);
    }
}

// Shapes phones, webmail and desktop address books write, from the file
// to the book and its groups, with what the import summary says.
TEST(VCardImportTest, EveryFaxNumberGroupAndNameWithTheSummary) {
    LanguageTable english;
    ASSERT_EQ(LoadLanguage(english, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
    struct Contacted {
        std::u16string name, number;
        Names groups;
    };
    const std::u16string longName(70, u'x');
    const auto counts = [](int added, int already, int without) {
        return u"Contacts imported: " + toU16(long(added)) + u", already in the contact book: " +
               toU16(long(already)) + u", without a fax number: " + toU16(long(without)) + u".";
    };
    struct Case {
        const char* what;
        std::string file;
        std::vector<Contacted> contacts;
        std::vector<std::u16string> summary;
    } cases[] = {
        {"CR CR LF line ends",
         "BEGIN:VCARD\r\r\nVERSION:3.0\r\r\nFN:Anna Berger\r\r\nTEL;TYPE=FAX:+49 30 1\r\r\n"
         "END:VCARD\r\r\n",
         {{u"Anna Berger", u"+49 30 1", {}}},
         {counts(1, 0, 0)}},
        {"CR only, UTF-16 big-endian with its mark, no END at the end",
         [] {
             std::string be = "\xFE\xFF";
             for (char c : std::string("BEGIN:VCARD\rFN:Bo\rTEL;TYPE=fax:7"))
                 be += std::string(1, '\0') + c;
             return be;
         }(),
         {{u"Bo", u"7", {}}},
         {counts(1, 0, 0)}},
        {"two fax numbers and a mobile",
         "BEGIN:VCARD\nVERSION:3.0\nFN:Anna Berger\nTEL;TYPE=work,fax:+49 30 1\n"
         "TEL;TYPE=CELL:+49 170 1\nTEL;TYPE=home;TYPE=fax:+49 30 2\nEND:VCARD\n",
         {{u"Anna Berger (work)", u"+49 30 1", {}}, {u"Anna Berger (home)", u"+49 30 2", {}}},
         {counts(2, 0, 0)}},
        {"a fax found through its label",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Carl Dorn\r\nitem1.TEL:+49 89 5\r\n"
         "item1.X-ABLabel:Fax\r\nitem2.TEL;type=pref:+49 89 6\r\nitem2.X-ABLabel:_$!<Other>!$_\r\n"
         "END:VCARD\r\n",
         {{u"Carl Dorn", u"+49 89 5", {}}},
         {counts(1, 0, 0)}},
        {"categories in three spellings, system labels",
         "BEGIN:VCARD\nFN:A\nTEL;TYPE=fax:1\nCATEGORIES:Kunden,Praxen\nEND:VCARD\n"
         "BEGIN:VCARD\nFN:B\nTEL;TYPE=fax:2\nCATEGORIES:Kunden\\,Praxen\nEND:VCARD\n"
         "BEGIN:VCARD\nFN:C\nTEL;TYPE=fax:3\nCATEGORIES:Kunden\nCATEGORIES:Praxen\nEND:VCARD\n"
         "BEGIN:VCARD\nFN:D\nTEL;TYPE=fax:4\nCATEGORIES:myContacts,starred,* Freunde\nEND:VCARD\n",
         {{u"A", u"1", {u"Kunden", u"Praxen"}},
          {u"B", u"2", {u"Kunden", u"Praxen"}},
          {u"C", u"3", {u"Kunden", u"Praxen"}},
          {u"D", u"4", {u"Freunde"}}},
         {counts(4, 0, 0)}},
        {"a comma and a 70-character name",
         "BEGIN:VCARD\nFN:Berger\\, Anna\nTEL;TYPE=fax:1\nEND:VCARD\n"
         "BEGIN:VCARD\nFN:" + std::string(70, 'x') + "\nTEL;TYPE=fax:2\nEND:VCARD\n",
         {{u"Berger\u201A Anna", u"1", {}}, {std::u16string(58, u'x') + u"\u2026", u"2", {}}},
         {counts(2, 0, 0),
          u"Names the contact book keeps otherwise (an export writes them as the card gives "
          u"them):\n\u2022 \u201CBerger, Anna\u201D is kept as \u201CBerger\u201A Anna\u201D: the "
          u"contact book holds a comma as the look-alike mark \u201A and a line break as a space"
          u"\n\u2022 \u201C" + longName +
              u"\u201D is kept as \u201C" + std::u16string(58, u'x') +
              u"\u2026\u201D: the name is too long for the contact book"}},
        {"a mobile-only contact, a card without phone, two numbers none fax",
         "BEGIN:VCARD\nFN:Mo Bile\nTEL;TYPE=CELL:+49 170 9\nEND:VCARD\n"
         "BEGIN:VCARD\nFN:Nobody\nEMAIL:n@example.org\nEND:VCARD\n"
         "BEGIN:VCARD\nTEL;TYPE=home:1\nTEL;TYPE=work:2\nEND:VCARD\n",
         {},
         {counts(0, 0, 3),
          u"Not imported:\n\u2022 \u201CMo Bile\u201D: it holds only mobile numbers\n\u2022 "
          u"\u201CNobody\u201D: the card holds no phone number\n\u2022 \u201Ca card without a name\u201D: "
          u"none of its phone numbers is marked as a fax number"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ContactBook book;
        const VCardFileImport imported = ImportVCards(c.file, book);
        std::vector<const Contact*> singles;
        for (const Contact& contact : book.contacts)
            if (contact.kind == Single)
                singles.push_back(&contact);
        ASSERT_EQ(singles.size(), c.contacts.size());
        std::map<std::u16string, std::vector<std::u16string>> groups;
        for (std::size_t i = 0; i < singles.size(); ++i) {
            EXPECT_EQ(toUtf8(singles[i]->name), toUtf8(c.contacts[i].name));
            EXPECT_EQ(toUtf8(singles[i]->number), toUtf8(c.contacts[i].number));
            for (const std::u16string& group : c.contacts[i].groups)
                groups[group].push_back(c.contacts[i].number);
        }
        EXPECT_EQ(book.groups, groups);
        const std::vector<std::u16string> summary = ImportSummary(english, imported);
        ASSERT_EQ(summary.size(), c.summary.size());
        for (std::size_t i = 0; i < summary.size(); ++i)
            EXPECT_EQ(toUtf8(summary[i]), toUtf8(c.summary[i]));
    }
}

// What an export writes for imported contacts, one typed here and a
// contact the service holds with a mobile number only.
TEST(VCardWriteTest, NamesAndKindsAsTheCardsGaveThemFaxOnlyForFaxNumbers) {
    ContactBook book;
    ImportVCards("BEGIN:VCARD\nFN:Berger\\, Anna\nTEL;TYPE=work,fax:1\nTEL;TYPE=home,fax:2\n"
                 "END:VCARD\nBEGIN:VCARD\nFN:" + std::string(70, 'y') + "\nTEL;TYPE=HOME:3\n"
                 "END:VCARD\n",
                 book);
    Contact typed = Contact::entry(u"0", u"Typed", u"4", u"");
    Contact mobile = Contact::entry(u"9", u"Mo Bile", u"", u"+49 170 9");
    book.contacts.push_back(typed);
    book.contacts.push_back(mobile);
    ContactBook loaded = book;  // the origins travel beside the book file
    loaded.cards.clear();
    ParseCardFile(FormatCardFile(book), loaded);
    EXPECT_EQ(loaded.cards, book.cards);

    const std::string file = WriteVCards(loaded);
    for (const char* line :
         {"FN:Berger\\, Anna (work)\r\nTEL;TYPE=fax,work:1\r\n",
          "FN:Berger\\, Anna (home)\r\nTEL;TYPE=fax,home:2\r\n",
          "TEL;TYPE=home:3\r\n", "FN:Typed\r\nTEL;TYPE=fax:4\r\n",
          "FN:Mo Bile\r\nTEL;TYPE=cell:+49 170 9\r\nEND:VCARD"})
        EXPECT_NE(file.find(line), std::string::npos) << line << "\n" << file;
    EXPECT_NE(file.find("FN:" + std::string(70, 'y')), std::string::npos);
    EXPECT_EQ(file.find("\u2026"), std::string::npos);
    // Renamed here: the export writes the book's name.
    loaded.contacts.front().name = u"Renamed";
    EXPECT_EQ(WriteVCards(loaded).find("Berger\\, Anna (work)"), std::string::npos);
}

TEST(VCardReadTest, TenThousandCardsInOneFile) {
    std::string file;
    for (int i = 0; i < 10000; ++i)
        file += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Contact " + std::to_string(i) +
                "\r\nTEL;TYPE=WORK,FAX:+49 30 " + std::to_string(100000 + i) +
                "\r\nCATEGORIES:Group " + std::to_string(i % 7) + "\r\nEND:VCARD\r\n";
    ContactBook book;
    const VCardImport added = AddVCardContacts(book, ReadVCards(file).contacts);
    EXPECT_EQ(added.added, 10000u);
    EXPECT_EQ(book.groups.size(), 7u);
    EXPECT_EQ(book.groups[u"Group 3"].size(), 1429u);
    EXPECT_EQ(book.contacts.back().name, u"Contact 9999");
    EXPECT_EQ(book.contacts.back().number, u"+49 30 109999");
    EXPECT_EQ(book.contacts.back().state, New);
}

TEST(VCardWriteTest, ExportReadsBackToTheSameBook) {
    ContactBook book;
    AddVCardContacts(book, {{u"Anna; \"Berger\" \\ Praxis", u"+49 30 222", u"+49 170 1", {u"A,B"}},
                            {std::u16string(59, u'я'), u"+7 1", u"", {u"A,B", u"Ärzte"}},
                            {u"Solo", u"0221 99", u"", {}},
                            // What decoders leave: control characters, a lone surrogate.
                            {u"Ctl\x05 \xD800x", u"tel\x1e:+7 1;ext=2", u"", {}},
                            // A card whose name is only control characters, with
                            // several fax numbers: named by its number, unmarked.
                            {u"\b\0", u"+7 2", u"", {}, false, u"work", true}});
    Contact deleted = Contact::entry(u"7", u"Gone", u"000", u"");
    deleted.kind = Single;
    deleted.state = Deleted;
    book.contacts.push_back(deleted);

    const std::string file = WriteVCards(book);
    EXPECT_EQ(VCardCount(book), 5u);
    EXPECT_NE(file.find("VERSION:4.0\r\n"), std::string::npos);
    EXPECT_NE(file.find("TEL;TYPE=fax:+49 30 222\r\n"), std::string::npos);
    EXPECT_EQ(file.find("Gone"), std::string::npos);
    for (std::size_t at = 0, end; (end = file.find("\r\n", at)) != std::string::npos; at = end + 2)
        EXPECT_LE(end - at, 75u);  // folded, and never inside a character
    EXPECT_TRUE(isValidUtf8(file));

    ContactBook again;
    const VCardImport added = AddVCardContacts(again, ReadVCards(file).contacts);
    EXPECT_EQ(added.added, 5u);
    EXPECT_EQ(again.groups, book.groups);
    auto singles = [](const ContactBook& b) {
        std::vector<Contact> out;
        for (const Contact& c : b.contacts)
            if (c.kind == Single && c.state != Deleted)
                out.push_back(c);
        return out;
    };
    EXPECT_EQ(singles(again), singles(book));
    // A second import of the same file adds nothing.
    EXPECT_EQ(AddVCardContacts(again, ReadVCards(file).contacts).alreadyThere, 5u);
}

// The command line's import and export work on the user's contacts.csv.
TEST(VCardFileTest, CommandImportsIntoTheBookAndExportsIt) {
    test::TempDir dir;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    LanguageTable english;
    std::FILE* out = std::tmpfile();

    test::writeBytes(dir / "in.vcf",
                     "BEGIN:VCARD\nFN:A\nTEL;TYPE=fax:1\nEND:VCARD\n"
                     "BEGIN:VCARD\nFN:B\nTEL:2\nEND:VCARD\nBEGIN:VCARD\nFN:C\nEND:VCARD\n");
    EXPECT_EQ(RunContactsCommand(ContactsCommand::Import, dir / "in.vcf", english, out, out), 0);
    EXPECT_EQ(RunContactsCommand(ContactsCommand::Import, dir / "missing.vcf", english, out, out),
              kContactsCommandFailed);
    ContactBook book;
    ASSERT_EQ(LoadContactBook(book, ContactFilePath()), ContactFileRead::Loaded);
    ASSERT_EQ(book.contacts.size(), 2u);
    EXPECT_EQ(book.contacts.back().state, New);

    EXPECT_EQ(RunContactsCommand(ContactsCommand::Export, dir / "out.vcf", english, out, out), 0);
    EXPECT_EQ(ReadVCards(test::readBytes(dir / "out.vcf")).contacts.size(), 2u);
    EXPECT_EQ(RunContactsCommand(ContactsCommand::Export, dir / "no/such/folder.vcf", english, out,
                                 out),
              kContactsCommandFailed);
    std::fclose(out);
    if (old)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace miravo
