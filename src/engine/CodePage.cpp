#include "CodePage.h"

#include <cerrno>
#include <iconv.h>
#include <string>

namespace fieldsmith::engine {

namespace {

std::string iconvName(int codePage) {
    if (codePage == 65001) return "UTF-8";
    if (codePage == 936) return "GBK";
    return "CP" + std::to_string(codePage);
}

bool isSingleByte(int codePage) {
    switch (codePage) {
    case 932: case 936: case 949: case 950: case 65001: return false;
    default: return true;
    }
}

// Owns one iconv descriptor.
class Iconv {
public:
    Iconv(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of in; a byte sequence that cannot be converted becomes '?'.
    std::string convert(std::string_view in, std::uint64_t& losses) {
        std::string out;
        out.reserve(in.size() * 2 + 8);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buf[256];
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        while (srcLeft > 0) {
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, static_cast<std::size_t>(dst - buf));
            if (r == static_cast<std::size_t>(-1)) {
                if (errno == E2BIG) continue;
                // EILSEQ or EINVAL: skip one input byte.
                ++src;
                --srcLeft;
                ++losses;
                out += '?';
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t cd_;
};

} // namespace

CodePageConverter::CodePageConverter(int fromCodePage, int toCodePage)
    : from_(fromCodePage), to_(toCodePage) {
    identity_ = fromCodePage == toCodePage || fromCodePage <= 0 || toCodePage <= 0;
    if (identity_) return;
    if (!isSingleByte(fromCodePage) || !isSingleByte(toCodePage)) {
        multiByte_ = true;
        return;
    }
    Iconv toUcs(iconvName(fromCodePage) == "UTF-8" ? "UTF-8" : "UTF-32LE", iconvName(fromCodePage));
    Iconv fromUcs(iconvName(toCodePage), "UTF-32LE");
    if (!toUcs.ok() || !fromUcs.ok()) {
        identity_ = true; // an unknown code page is passed through unchanged
        return;
    }
    for (int b = 0; b < 256; ++b) {
        std::uint64_t lost = 0;
        const char in = static_cast<char>(b);
        const std::string ucs = toUcs.convert(std::string_view(&in, 1), lost);
        std::string back;
        if (lost == 0 && ucs.size() == 4) back = fromUcs.convert(ucs, lost);
        if (lost == 0 && back.size() == 1) {
            map_[b] = static_cast<unsigned char>(back[0]);
            lossy_[b] = false;
        } else if (b < 0x80) {
            map_[b] = static_cast<unsigned char>(b);
            lossy_[b] = false;
        } else {
            map_[b] = '?';
            lossy_[b] = true;
        }
    }
}

std::string CodePageConverter::convert(std::string_view text) const {
    if (identity_) return std::string(text);
    if (multiByte_) {
        Iconv cv(iconvName(to_), iconvName(from_));
        if (!cv.ok()) return std::string(text);
        const std::uint64_t before = losses_;
        std::string out = cv.convert(text, losses_);
        if (sharedLosses_) *sharedLosses_ += losses_ - before;
        return out;
    }
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        out[i] = static_cast<char>(map_[b]);
        if (lossy_[b]) {
            ++losses_;
            if (sharedLosses_) ++*sharedLosses_;
        }
    }
    return out;
}

std::string toUtf8(std::string_view text, int codePage) {
    bool ascii = true;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    if (ascii || codePage == 65001) return std::string(text);
    Iconv cv("UTF-8", iconvName(codePage));
    if (!cv.ok()) return std::string(text);
    std::uint64_t losses = 0;
    return cv.convert(text, losses);
}

std::string fromUtf8(std::string_view text, int codePage) {
    if (codePage == 65001) return std::string(text);
    Iconv cv(iconvName(codePage), "UTF-8");
    if (!cv.ok()) return std::string(text);
    std::uint64_t losses = 0;
    return cv.convert(text, losses);
}

bool isKnownCodePage(int codePage) {
    Iconv cv("UTF-8", iconvName(codePage));
    return cv.ok();
}

} // namespace fieldsmith::engine
