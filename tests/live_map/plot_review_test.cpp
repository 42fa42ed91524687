#include "live_map/plot_review.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrel::live_map {
namespace {

TEST(MapReviewAction, BodiesAndTheirRefusals) {
    struct Case {
        std::string body;
        std::optional<bool> excluded;
        std::optional<std::string> note;
        int status;  // 0: taken
    };
    std::string twoHundred;
    for (int i = 0; i < 200; ++i) {
        twoHundred += "\xC3\xA9";  // é: 200 characters in 400 bytes
    }
    const Case cases[] = {
        {R"({"excluded": true})", true, std::nullopt, 0},
        {R"({"excluded":false})", false, std::nullopt, 0},
        {R"({"note": "barn, <script>alert(1)</script>"})", std::nullopt,
         "barn, <script>alert(1)</script>", 0},
        {R"({"note": ""})", std::nullopt, "", 0},
        {"{\"note\": \"" + twoHundred + "\"}", std::nullopt, twoHundred, 0},
        {"{\"note\": \"" + twoHundred + "e\"}", std::nullopt, std::nullopt, 400},
        {R"({"note": "a\tb"})", std::nullopt, std::nullopt, 400},
        {R"({"note": "a\u0001b"})", std::nullopt, std::nullopt, 400},
        {R"({"note": "a\u0085b"})", std::nullopt, std::nullopt, 400},  // C1 control
        {R"({"note": "a\u007fb"})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": 1})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": "true"})", std::nullopt, std::nullopt, 400},
        {R"({"note": 5})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": true, "note": "x"})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": true, "row": 3})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": true, "excluded": false})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": {"x": true}})", std::nullopt, std::nullopt, 400},
        {R"({})", std::nullopt, std::nullopt, 400},
        {R"([true])", std::nullopt, std::nullopt, 400},
        {"excluded=true", std::nullopt, std::nullopt, 400},
        {R"({"note": "\xff"})", std::nullopt, std::nullopt, 400},
        {R"({"excluded": true} x)", std::nullopt, std::nullopt, 400},
        {std::string(kMaxActionBytes + 1, ' '), std::nullopt, std::nullopt, 413},
    };
    for (const Case& c : cases) {
        const auto parsed = parseReviewAction(c.body);
        if (c.status != 0) {
            ASSERT_TRUE(std::holds_alternative<Refusal>(parsed)) << c.body;
            EXPECT_EQ(std::get<Refusal>(parsed).status, c.status) << c.body;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<ReviewAction>(parsed))
            << c.body << ": " << std::get<Refusal>(parsed).reason;
        EXPECT_EQ(std::get<ReviewAction>(parsed).excluded, c.excluded) << c.body;
        EXPECT_EQ(std::get<ReviewAction>(parsed).note, c.note) << c.body;
    }
}

TEST(MapReviewAction, Tokens) {
    std::set<std::string> seen;
    for (int i = 0; i < 20; ++i) {
        const std::string token = newToken();
        EXPECT_EQ(token.size(), 32u);
        EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 20u);
    const std::string token = newToken();
    EXPECT_TRUE(sameToken(token, token));
    EXPECT_FALSE(sameToken(token.substr(0, 31), token));
    EXPECT_FALSE(sameToken(token + "0", token));
    EXPECT_FALSE(sameToken("", token));
    EXPECT_FALSE(sameToken("", ""));  // no token is never the token
}

}  // namespace
}  // namespace kestrel::live_map
