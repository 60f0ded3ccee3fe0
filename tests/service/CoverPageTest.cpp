// The cover-page task against a scripted loopback service: the request,
// the joined preview document, and the error and empty-answer paths.
#include "service/CoverPage.h"

#include "app/Paths.h"
#include "convert/FaxTiff.h"
#include "tests/service/SendTestSupport.h"
#include "app/ControlIds.h"

namespace miravo {
namespace {

using test::formField;
using test::formFieldNames;
using test::xmlAnswer;

std::string faxTiff(const std::filesystem::path& path, int pages) {
    FaxTiffWriter writer;
    EXPECT_TRUE(writer.open(path));
    for (int i = 0; i < pages; ++i) {
        BitPage page(kFaxWidth, kFaxHeight);
        page.bits[i * 10] = 0xFF;
        EXPECT_TRUE(writer.addPage(page));
    }
    EXPECT_TRUE(writer.close());
    return test::readBytes(path);
}

class CoverPageTest : public test::SendFixture {
  protected:
    void SetUp() override {
        SendFixture::SetUp();
        home_ = dir_ / "home";
        std::filesystem::create_directories(home_);
        oldHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", home_.c_str(), 1);
        faxTiff(dir_ / "doc_res__2.tif", 2);
        state_.job.documentPath = fromUtf8((dir_ / "doc_res__2.tif").string());
        state_.job.coverText = u"Hello \u00e9";
        state_.job.recipients = {single(u"+49 1", u"Anna"), single(u"+49 1", u"Anna again"),
                                 group(u"Sales", {u"+44 1", u"+44 2"}, u"Sales team")};
        paths_.state = &state_;
    }
    void TearDown() override {
        setenv("HOME", oldHome_.c_str(), 1);
        SendFixture::TearDown();
    }
    int run() { return CoverPageTask(paths_, report_); }
    std::filesystem::path joined() const {
        return ToFsPath(CacheFolder()) / "coverpage_and_fax.tiff";
    }

    std::filesystem::path home_;
    std::string oldHome_;
    AppPaths paths_;
};

TEST_F(CoverPageTest, RenderedCoverIsJoinedInFrontOfTheDocument) {
    answer("convert", {faxTiff(dir_ / "cover.tif", 1)});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(report_.closes, std::vector<int>{0});
    EXPECT_EQ(report_.title, text(123));
    EXPECT_EQ(report_.history.front().second, text(124));
    EXPECT_EQ(report_.label(controlid::kStatusLine), text(125));
    EXPECT_EQ(state_.job.coverDocumentPath, fromUtf8(joined().string()));
    EXPECT_EQ(CountTiffPages(joined()), 3);
    EXPECT_FALSE(std::filesystem::exists(ToFsPath(CacheFolder()) / "coverpage.tiff"));

    const auto sent = requests("convert");
    ASSERT_EQ(sent.size(), 1u);
    const std::string& body = sent[0].body;
    EXPECT_EQ(formFieldNames(body),
              (std::vector<std::string>{"action", "username", "password", "pagecount", "numbers[1]",
                                        "names[1]", "numbers[2]", "names[2]", "numbers[3]",
                                        "names[3]", "numbers[4]", "names[4]", "coverpage"}));
    EXPECT_EQ(formField(body, "pagecount"), "3");
    EXPECT_EQ(formField(body, "numbers[2]"), "+49 1");  // no duplicate removal
    EXPECT_EQ(formField(body, "numbers[4]"), "+44 2");
    EXPECT_EQ(formField(body, "names[4]"), "Sales team");
    EXPECT_EQ(formField(body, "coverpage"), "Hello \xC3\xA9");

    // The longest text goes out as the transfer sends it, not one the
    // service would refuse as too long.
    state_.job.coverText = std::u16string(5998, u'x') + u"\u00e9";
    report_.open = true;  // the worker dialog of a second preview
    EXPECT_EQ(run(), 0);
    const auto again = requests("convert");
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(formField(again[1].body, "coverpage"), std::string(5997, 'x'));
}

TEST_F(CoverPageTest, ServiceErrorShowsItsTextAndLeavesNoJoinedFile) {
    test::writeBytes(joined(), "old preview");
    const std::string error = xmlAnswer("<ERROR>110</ERROR>");
    answer("convert", {error});
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(report_.closes.empty());
    EXPECT_EQ(report_.label(controlid::kStatusLine), text(86));
    EXPECT_FALSE(std::filesystem::exists(joined()));
    EXPECT_FALSE(std::filesystem::exists(ToFsPath(CacheFolder()) / "coverpage.tiff"));
    EXPECT_EQ(storedAnswer(), error);
    EXPECT_EQ(state_.job.coverText, u"Hello \u00e9");
}

TEST_F(CoverPageTest, ClosedDialogSendsNothingAndKeepsTheText) {
    report_.open = false;
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_EQ(state_.job.coverText, u"Hello \u00e9");
}

TEST_F(CoverPageTest, TextCarryingTheDelimiterIsNotSent) {
    state_.job.coverText = u"a ----AaB03x b";
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(server_->requests().empty());
    EXPECT_EQ(report_.label(controlid::kStatusLine), text(79));
    EXPECT_TRUE(report_.closes.empty());
}

TEST_F(CoverPageTest, AnswerThatOnlyLooksLikeTiffClosesWithoutAJoinedFile) {
    answer("convert", {"II*garbage"});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(report_.closes, std::vector<int>{0});
    EXPECT_FALSE(std::filesystem::exists(joined()));
}

}  // namespace
}  // namespace miravo
