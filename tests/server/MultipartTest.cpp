// The reader of the client's multipart bodies, on the exact bytes the client
// writes and on bodies it must refuse.
#include <gtest/gtest.h>

#include "server/Multipart.h"

namespace miravo::server {
namespace {

const std::string kBoundary = "--AaB03x";

std::string part(const std::string& name, const std::string& value) {
    return "----AaB03x\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string fileHeader() {
    return "----AaB03x\r\nContent-Disposition: form-data; name=\"document\"; "
           "filename=\"image.tif\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

FormData parseOk(const std::string& body, FormLimits limits = {}) {
    FormData form;
    EXPECT_EQ(parseForm(body, kBoundary, limits, form), FormError::None) << body;
    return form;
}

TEST(ServerMultipartTest, TextExchangeWithoutClosingDelimiter) {
    // Twelve lines, each ending in CR LF, nothing after them.
    const std::string body = part("action", "get_user_preferences") + part("username", "ann") +
                             part("password", "p\xc3\xa4ss");
    const FormData form = parseOk(body);
    ASSERT_EQ(form.parts.size(), 3u);
    EXPECT_EQ(form.value("action"), "get_user_preferences");
    EXPECT_EQ(form.value("username"), "ann");
    EXPECT_EQ(form.value("password"), "p\xc3\xa4ss");
    EXPECT_FALSE(form.parts[0].isFile());
}

TEST(ServerMultipartTest, EmptyBodyHasNoParts) {
    EXPECT_TRUE(parseOk("").parts.empty());
}

TEST(ServerMultipartTest, UploadKeepsFileBytesThatLookLikeTheDelimiter) {
    const std::string file = std::string("II*\0", 4) + "\r\n----AaB03x\r\n\xff\x00tail";
    const std::string body =
        part("action", "convert_and_transfer") + fileHeader() + file + "\r\n----AaB03x--\r\n";
    const FormData form = parseOk(body);
    ASSERT_EQ(form.parts.size(), 2u);
    const FormPart* doc = form.find("document");
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(doc->isFile());
    EXPECT_EQ(doc->filename, "image.tif");
    EXPECT_EQ(doc->contentType, "application/octet-stream");
    EXPECT_EQ(doc->value, file);
}

TEST(ServerMultipartTest, EmptyFileAndClosingDelimiter) {
    const std::string body = part("action", "x") + fileHeader() + "\r\n----AaB03x--\r\n";
    const FormData form = parseOk(body);
    ASSERT_NE(form.find("document"), nullptr);
    EXPECT_EQ(form.find("document")->value, "");
}

TEST(ServerMultipartTest, EmptyLineBeforeCoverPartStaysOutOfBothValues) {
    const std::string body = part("numbers[1]", "12345") + part("names[1]", "Ann") + "\r\n" +
                             part("coverpage", "Dear Ann,\r\nsee below.\r\n") +
                             part("pagecount", "2");
    const FormData form = parseOk(body);
    EXPECT_EQ(form.value("names[1]"), "Ann");
    EXPECT_EQ(form.value("coverpage"), "Dear Ann,\r\nsee below.\r\n");
    EXPECT_EQ(form.value("pagecount"), "2");
}

TEST(ServerMultipartTest, EmptyValueAndRepeatedNames) {
    const FormData form = parseOk(part("names[1]", "") + part("a", "1") + part("a", "2"));
    EXPECT_TRUE(form.has("names[1]"));
    EXPECT_EQ(form.value("names[1]"), "");
    EXPECT_EQ(form.value("a"), "1");
    EXPECT_FALSE(form.has("b"));
}

TEST(ServerMultipartTest, PreambleBeforeFirstDelimiterIsSkipped) {
    const FormData form = parseOk("preamble\r\n" + part("action", "x"));
    EXPECT_EQ(form.value("action"), "x");
}

TEST(ServerMultipartTest, RefusesBodiesCutShortOrNotOfTheBoundary) {
    const std::string good = part("action", "authentication") + part("username", "ann");
    FormData form;
    // Cut in the last value (no CR LF at the end), in a header, after a delimiter.
    for (std::size_t cut : {good.size() - 1, good.size() - 5, std::size_t(20), std::size_t(10)}) {
        EXPECT_EQ(parseForm(good.substr(0, cut), kBoundary, {}, form), FormError::Malformed) << cut;
    }
    EXPECT_EQ(parseForm("just some text", kBoundary, {}, form), FormError::Malformed);
    EXPECT_EQ(parseForm(part("a", "1"), "--other", {}, form), FormError::Malformed);
    EXPECT_EQ(parseForm("----AaB03x\r\nContent-Type: text/plain\r\n\r\nv\r\n", kBoundary, {}, form),
              FormError::Malformed);
    EXPECT_EQ(
        parseForm("----AaB03x\r\nContent-Disposition: form-data\r\n\r\nv\r\n", kBoundary, {}, form),
        FormError::Malformed);
    EXPECT_EQ(parseForm(part("a", "1"), "", {}, form), FormError::NoBoundary);
}

TEST(ServerMultipartTest, BinaryGarbageNeverReadsAsAForm) {
    std::string garbage;
    unsigned state = 12345;
    for (int i = 0; i < 100000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(state >> 16));
    }
    FormData form;
    EXPECT_EQ(parseForm(garbage, kBoundary, {}, form), FormError::Malformed);
    EXPECT_EQ(parseForm("----AaB03x" + garbage, kBoundary, {}, form), FormError::Malformed);
}

TEST(ServerMultipartTest, LimitsOnPartsAndFieldSize) {
    FormLimits limits;
    limits.maxParts = 3;
    limits.maxFieldBytes = 10;
    FormData form;
    const std::string four = part("a", "1") + part("b", "2") + part("c", "3") + part("d", "4");
    EXPECT_EQ(parseForm(four, kBoundary, limits, form), FormError::TooManyParts);
    EXPECT_EQ(parseForm(part("a", std::string(11, 'x')), kBoundary, limits, form),
              FormError::FieldTooLarge);
    EXPECT_EQ(parseForm(part("a", std::string(10, 'x')), kBoundary, limits, form), FormError::None);
    // Files are bounded by the body size only.
    EXPECT_EQ(parseForm(fileHeader() + std::string(100, 'x') + "\r\n----AaB03x--\r\n", kBoundary,
                        limits, form),
              FormError::None);
}

TEST(ServerMultipartTest, LeadingPartsOfALongerBody) {
    FormLimits limits;
    limits.maxFieldBytes = 10;
    const std::string credentials = part("action", "convert") + part("username", "ann");
    struct Case {
        std::string lead;
        FormError error;
        std::size_t parts;
    };
    const Case cases[] = {
        {credentials + part("pass", "x").substr(0, 15), FormError::None, 2},
        {credentials + fileHeader() + std::string(100, 'x'), FormError::None, 2},
        {credentials + part("cover", std::string(30, 'x')), FormError::FieldTooLarge, 2},
        {part("a", "1").substr(0, 12), FormError::None, 0},
        {std::string(5000, 'x'), FormError::Malformed, 0},
    };
    for (const Case& c : cases) {
        FormData form;
        EXPECT_EQ(parseLeadingParts(c.lead, kBoundary, limits, form), c.error) << c.lead;
        EXPECT_EQ(form.parts.size(), c.parts) << c.lead;
    }
    FormData form;
    parseLeadingParts(credentials + part("password", "pw") + "----AaB03x\r\nCont", kBoundary, limits, form);
    EXPECT_EQ(form.value("password"), "pw");
}

TEST(ServerMultipartTest, BoundaryFromContentType) {
    EXPECT_EQ(boundaryOf("multipart/form-data; boundary=--AaB03x"), "--AaB03x");
    EXPECT_EQ(boundaryOf("Multipart/Form-Data;boundary=\"--AaB03x\""), "--AaB03x");
    EXPECT_EQ(boundaryOf("multipart/form-data; charset=utf-8; boundary=abc"), "abc");
    EXPECT_FALSE(boundaryOf("multipart/form-data"));
    EXPECT_FALSE(boundaryOf("multipart/form-data; boundary="));
    EXPECT_FALSE(boundaryOf("text/plain; boundary=--AaB03x"));
    EXPECT_FALSE(boundaryOf(""));
}

}  // namespace
}  // namespace miravo::server
