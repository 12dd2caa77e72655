// MD5 on test vectors of RFC 1321 and on lengths at the edges of its padding, each hashed at
// once and streamed in pieces of odd sizes that cut its 64-byte blocks anywhere; SHA-256 and
// HMAC-SHA-256 on those of FIPS 180-4 and RFC 4231.
#include <gtest/gtest.h>

#include <string>

#include "base/md5.h"
#include "base/sha256.h"

namespace {

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& digest)
{
    return HexOf(digest.data(), digest.size());
}

TEST(Md5, KnownDigests)
{
    const struct {
        std::string message;
        const char* digest;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        // Two blocks of bytes that differ: the streaming keeps them in their order.
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // The padding's length field fits in the last block, just does, or needs one more.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Hex(Md5Of(row.message.data(), row.message.size())), row.digest) << row.message.size();
        Md5 md5;
        for (size_t at = 0, n = 1; at < row.message.size(); at += n, n = n % 131 + 7)
            md5.Update(row.message.data() + at, std::min(n, row.message.size() - at));
        EXPECT_EQ(Hex(md5.Final()), row.digest) << row.message.size() << " streamed";
        // Final starts the next digest afresh.
        EXPECT_EQ(Hex(md5.Final()), "d41d8cd98f00b204e9800998ecf8427e");
    }
}

TEST(Sha256, KnownDigests)
{
    const struct {
        std::string message;
        const char* digest;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        Sha256 sha;
        for (size_t at = 0, n = 1; at < row.message.size(); at += n, n = n % 131 + 7)
            sha.Update(row.message.data() + at, std::min(n, row.message.size() - at));
        EXPECT_EQ(Hex(sha.Final()), row.digest) << row.message.size();
    }
    EXPECT_EQ(Hex(HmacSha256(std::string(20, '\x0b'), "Hi There")),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(Hex(HmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // A key longer than a block is hashed first.
    EXPECT_EQ(Hex(HmacSha256(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

}  // namespace
