// MD5 on test vectors of RFC 1321 and on lengths at the edges of its padding, each hashed at
// once and streamed in pieces of odd sizes that cut its 64-byte blocks anywhere.
#include <gtest/gtest.h>

#include <string>

#include "base/md5.h"

namespace {

std::string Hex(const Md5Digest& digest)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest)
        text += std::string{kDigits[byte >> 4], kDigits[byte & 15]};
    return text;
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

}  // namespace
