// Passwords, certificates, fax TIFF reading and writing, and the store.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <tiffio.h>

#include <QImage>
#include <QPainter>

#include "server/Certificates.h"
#include "server/FaxTiffIo.h"
#include "server/Passwords.h"
#include "server/Store.h"
#include "tests/TestSupport.h"

namespace miravo::server {
namespace {

TEST(ServerPasswordsTest, HashesAreSaltedAndVerify) {
    const std::string a = hashPassword("secret", 1000);
    const std::string b = hashPassword("secret", 1000);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind("pbkdf2-sha256$1000$", 0), 0u);
    EXPECT_TRUE(verifyPassword("secret", a));
    EXPECT_TRUE(verifyPassword("secret", b));
    EXPECT_FALSE(verifyPassword("Secret", a));
    EXPECT_FALSE(verifyPassword("", a));
}

TEST(ServerPasswordsTest, DamagedStoredValuesNeverMatch) {
    const std::string good = hashPassword("pw", 1000);
    for (const std::string& bad : {std::string(), std::string("pw"), std::string("md5$1$aa$bb"),
                                   good.substr(0, good.size() - 2),
                                   std::string("pbkdf2-sha256$0$00$") + std::string(64, '0'),
                                   std::string("pbkdf2-sha256$x$00$") + std::string(64, '0'),
                                   std::string("pbkdf2-sha256$10$zz$") + std::string(64, '0')})
        EXPECT_FALSE(verifyPassword("pw", bad)) << bad;
}

TEST(ServerPasswordsTest, VerifiedCredentialsFollowTheStoredHash) {
    VerifiedCredentials cache;
    const std::string first = hashPassword("one", 1000);
    EXPECT_TRUE(cache.check("ann", "one", first));
    EXPECT_TRUE(cache.check("ann", "one", first));  // from the cache
    EXPECT_FALSE(cache.check("ann", "two", first));
    const std::string second = hashPassword("two", 1000);
    EXPECT_FALSE(cache.check("ann", "one", second));  // the old entry does not outlive a change
    EXPECT_TRUE(cache.check("ann", "two", second));
}

TEST(ServerCertificatesTest, CaAndServerCertificateForLoopbackNames) {
    test::TempDir dir;
    std::string error;
    ASSERT_TRUE(ensureCertificates(dir.path(), error)) << error;
    const CertificateFiles files = certificateFiles(dir.path());
    for (const auto& p : {files.caCert, files.caKey, files.serverCert, files.serverKey})
        ASSERT_TRUE(std::filesystem::exists(p)) << p;
    EXPECT_EQ(
        std::filesystem::status(files.serverKey).permissions() & std::filesystem::perms::group_read,
        std::filesystem::perms::none);

    auto read = [](const std::filesystem::path& p) {
        FILE* f = std::fopen(p.c_str(), "rb");
        X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
        std::fclose(f);
        return cert;
    };
    X509* ca = read(files.caCert);
    X509* server = read(files.serverCert);
    ASSERT_TRUE(ca && server);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, ca);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    X509_STORE_CTX_init(ctx, store, server, nullptr);
    X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
    EXPECT_EQ(X509_verify_cert(ctx), 1)
        << X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx));
    EXPECT_EQ(X509_check_host(server, "localhost", 0, 0, nullptr), 1);
    EXPECT_EQ(X509_check_ip_asc(server, "127.0.0.1", 0), 1);
    EXPECT_NE(X509_check_host(server, "example.com", 0, 0, nullptr), 1);
    X509_STORE_CTX_free(ctx);
    X509_STORE_free(store);
    X509_free(server);

    // A second start keeps the CA; a lost server certificate is issued again by it.
    std::filesystem::remove(files.serverCert);
    ASSERT_TRUE(ensureCertificates(dir.path(), error)) << error;
    X509* again = read(files.caCert);
    EXPECT_EQ(X509_cmp(ca, again), 0);
    X509* reissued = read(files.serverCert);
    ASSERT_TRUE(reissued);
    EXPECT_EQ(X509_check_issued(again, reissued), X509_V_OK);
    X509_free(ca);
    X509_free(again);
    X509_free(reissued);
}

QImage page(bool withMark) {
    QImage image(1728, 2292, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (withMark) {
        QPainter p(&image);
        p.fillRect(100, 100, 400, 300, Qt::black);
    }
    return image;
}

TEST(ServerTiffTest, WrittenPageReadsBackAsOneFaxPage) {
    const std::string tiff = encodeFaxPage(page(true));
    ASSERT_GT(tiff.size(), 8u);
    EXPECT_EQ(tiff.substr(0, 3), "II*");
    EXPECT_EQ(countTiffPages(tiff, 10), 1);
    EXPECT_EQ(countTiffPages(tiff, 0), 1);  // one beyond the limit: the caller's sign
    EXPECT_TRUE(encodeFaxPage(QImage(100, 100, QImage::Format_RGB32)).empty());
}

TEST(ServerTiffTest, GarbageAndCutFilesAreNotDocuments) {
    const std::string tiff = encodeFaxPage(page(false));
    EXPECT_FALSE(countTiffPages("", 10));
    EXPECT_FALSE(countTiffPages("II*\0garbage", 10));
    EXPECT_FALSE(countTiffPages(std::string(5000, '\xff'), 10));
    EXPECT_FALSE(countTiffPages(tiff.substr(0, tiff.size() / 3), 10));
}

// An uncompressed TIFF of small pages; page `garbled` (if any) claims CCITT
// coding for bytes that are not.
std::string smallTiff(int pages, int garbled = -1) {
    test::TempDir dir;
    const auto path = dir / "t.tif";
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    std::vector<unsigned char> row(216, 0x55);
    for (int p = 0; p < pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1728);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, p == garbled ? COMPRESSION_CCITTFAX3 : COMPRESSION_NONE);
        if (p == garbled)
            TIFFWriteRawStrip(tif, 0, row.data(), 40);
        else
            for (int y = 0; y < 4; ++y)
                TIFFWriteScanline(tif, row.data(), y, 0);
        TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return test::readBytes(path);
}

TEST(ServerTiffTest, PagesAreCountedAlongTheChainWithoutDecodingLaterPages) {
    EXPECT_EQ(countTiffPages(smallTiff(3), 10), 3);
    EXPECT_EQ(countTiffPages(smallTiff(30), 10), 11);  // stops one beyond the limit
    EXPECT_EQ(countTiffPages(smallTiff(3, 2), 10), 3);  // a later page's strip is not decoded
    // The first page's strip is.
    EXPECT_FALSE(countTiffPages(smallTiff(3, 0), 10));
    // A first page whose strip offset points beyond the end of the file.
    std::string outside = smallTiff(1);
    const auto le32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(outside[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(outside[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(outside[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(outside[at + 3])) << 24;
    };
    const std::size_t ifd = le32(4);
    const std::size_t entries = static_cast<unsigned char>(outside[ifd]);
    bool patched = false;
    for (std::size_t e = 0; e < entries; ++e) {
        const std::size_t at = ifd + 2 + 12 * e;
        if (outside[at] == '\x11' && outside[at + 1] == '\x01') {  // StripOffsets
            outside.replace(at + 8, 4, "\xff\xff\x00\x00");
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    EXPECT_FALSE(countTiffPages(outside, 10));
}

TEST(ServerStoreTest, AccountsFaxesAndIsolation) {
    test::TempDir dir;
    Store store;
    std::string error;
    ASSERT_TRUE(store.open(dir / "db", error)) << error;
    ASSERT_EQ(store.addAccount("ann@x.test", "h1", 1.0), StoreResult::Ok);
    ASSERT_EQ(store.addAccount("ANN@x.test", "h2", 1.0), StoreResult::Exists);
    ASSERT_EQ(store.addAccount("bob@x.test", "h3", 0.0), StoreResult::Ok);
    auto ann = store.findAccount("Ann@X.test");
    auto bob = store.findAccount("bob@x.test");
    ASSERT_TRUE(ann && bob);

    Fax fax;
    fax.accountId = ann->id;
    fax.pages = 2;
    fax.prebilling = 0.60;
    fax.destinations = {{"12345", "A", "OK", 0.2}, {"99", "", "IN", 0}};
    ASSERT_EQ(store.addFax(fax, "NO"), StoreResult::Ok);
    EXPECT_NEAR(store.findAccount("ann@x.test")->credit, 0.40, 1e-9);
    auto found = store.findFax(ann->id, fax.id);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->destinations.size(), 2u);
    EXPECT_EQ(found->destinations[1].finalStatus, "IN");
    EXPECT_FALSE(store.findFax(bob->id, fax.id));

    Fax tooDear = fax;
    tooDear.prebilling = 0.41;
    EXPECT_EQ(store.addFax(tooDear, "NO"), StoreResult::NotEnoughCredit);
    EXPECT_NEAR(store.findAccount("ann@x.test")->credit, 0.40, 1e-9);

    EXPECT_EQ(store.setLogin(bob->id, "ann@x.test"), StoreResult::Exists);
    EXPECT_EQ(store.setLogin(bob->id, "robert@x.test"), StoreResult::Ok);
    EXPECT_FALSE(store.findAccount("bob@x.test"));
}

TEST(ServerStoreTest, AddressBookChangesStayInTheirAccount) {
    test::TempDir dir;
    Store store;
    std::string error;
    ASSERT_TRUE(store.open(dir / "db", error)) << error;
    store.addAccount("ann@x.test", "h", 0);
    store.addAccount("bob@x.test", "h", 0);
    const auto ann = store.findAccount("ann@x.test")->id;
    const auto bob = store.findAccount("bob@x.test")->id;
    ASSERT_EQ(store.addContact(ann, "Member", "111", "", "Team"), StoreResult::Ok);
    ASSERT_EQ(store.addContact(bob, "Bobs", "222", "", ""), StoreResult::Ok);
    const auto bobsId = store.addressBook(bob).front().id;
    ASSERT_EQ(store.applyContactChanges(ann, {{0, false, "New", "333", "444"},
                                              {bobsId, true, "", "", ""},
                                              {bobsId, false, "Hijack", "1", ""}}),
              StoreResult::Ok);
    const auto book = store.addressBook(ann);
    ASSERT_EQ(book.size(), 2u);
    EXPECT_EQ(book[0].groupName, "Team");
    EXPECT_NE(book[0].groupId, 0);
    EXPECT_EQ(book[1].name, "New");
    EXPECT_EQ(book[1].gsmNumber, "444");
    const auto bobs = store.addressBook(bob);
    ASSERT_EQ(bobs.size(), 1u);
    EXPECT_EQ(bobs[0].name, "Bobs");
}

}  // namespace
}  // namespace miravo::server
