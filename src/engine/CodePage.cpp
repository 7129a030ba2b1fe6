#include "CodePage.h"

#include <algorithm>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <iconv.h>
#include <string>

namespace fieldsmith::engine {

namespace {

std::string iconvName(int codePage) {
    if (codePage == 65001) return "UTF-8";
    if (codePage == 936) return "GBK";
    if (codePage == 1051) return "HP-ROMAN8";
    return "CP" + std::to_string(codePage);
}

bool isSingleByte(int codePage) {
    switch (codePage) {
    case 932: case 936: case 949: case 950: case 65001: return false;
    default: return true;
    }
}

} // namespace

// Owns one iconv descriptor.
class Iconv {
public:
    Iconv(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())), fromUtf8_(from == "UTF-8") {}
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
                // EILSEQ or EINVAL: skip one character (a whole UTF-8 sequence).
                std::size_t skip = 1;
                if (fromUtf8_) {
                    const auto lead = static_cast<unsigned char>(*src);
                    skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                    if (skip > srcLeft) skip = srcLeft;
                }
                src += skip;
                srcLeft -= skip;
                ++losses;
                out += '?';
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t cd_;
    bool fromUtf8_ = false;
};

namespace {

// Byte maps between two single-byte code pages, built once per pair: building one takes
// a few hundred conversions.
struct ByteMap {
    bool usable = false;
    std::array<unsigned char, 256> map{};
    std::array<bool, 256> lossy{};
};

const ByteMap& byteMapFor(int from, int to) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, ByteMap> cache;
    std::lock_guard lock(mutex);
    auto [it, fresh] = cache.try_emplace({from, to});
    ByteMap& m = it->second;
    if (!fresh) return m;
    Iconv toUcs("UTF-32LE", iconvName(from));
    Iconv fromUcs(iconvName(to), "UTF-32LE");
    if (!toUcs.ok() || !fromUcs.ok()) return m; // an unknown code page passes unchanged
    m.usable = true;
    for (int b = 0; b < 256; ++b) {
        std::uint64_t lost = 0;
        const char in = static_cast<char>(b);
        const std::string ucs = toUcs.convert(std::string_view(&in, 1), lost);
        std::string back;
        if (lost == 0 && ucs.size() == 4) back = fromUcs.convert(ucs, lost);
        const auto i = static_cast<std::size_t>(b);
        if (lost == 0 && back.size() == 1) {
            m.map[i] = static_cast<unsigned char>(back[0]);
        } else if (b < 0x80) {
            m.map[i] = static_cast<unsigned char>(b);
        } else {
            m.map[i] = '?';
            m.lossy[i] = true;
        }
    }
    return m;
}

} // namespace

CodePageConverter::CodePageConverter(int fromCodePage, int toCodePage)
    : from_(fromCodePage), to_(toCodePage) {
    identity_ = fromCodePage == toCodePage || fromCodePage <= 0 || toCodePage <= 0;
    if (identity_) return;
    if (!isSingleByte(fromCodePage) || !isSingleByte(toCodePage)) {
        multiByte_ = true;
        auto cv = std::make_shared<Iconv>(iconvName(toCodePage), iconvName(fromCodePage));
        if (cv->ok()) iconv_ = std::move(cv);
        else identity_ = true;
        return;
    }
    const ByteMap& m = byteMapFor(fromCodePage, toCodePage);
    if (!m.usable) {
        identity_ = true;
        return;
    }
    map_ = m.map;
    lossy_ = m.lossy;
}

std::string CodePageConverter::convert(std::string_view text) const {
    if (identity_) return std::string(text);
    if (multiByte_) {
        // Every code page here keeps ASCII as it is: most texts need no conversion at all.
        if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return std::string(text);
        const std::uint64_t before = losses_;
        std::string out = iconv_->convert(text, losses_);
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
