#include "IndexFiles.h"

#include "../EngineError.h"
#include "../FieldDef.h"
#include "../FileIo.h"
#include "DBaseHeader.h"

#include <algorithm>
#include <cstring>

namespace fieldsmith::engine::dbase {

namespace {

constexpr std::size_t kPage = 512;
constexpr std::size_t kPagesPerBlock = 2;
constexpr std::size_t kBlock = kPage * kPagesPerBlock;
constexpr std::size_t kTagTable = 544;
constexpr std::size_t kTagEntry = 32;
constexpr std::size_t kHeaderPages = 4; //!< the file header region: 2048 bytes

[[noreturn]] void damaged(const File& f, std::uint64_t offset, const std::string& what) {
    throw EngineError(ErrorKind::Damaged, "Index file " + f.path().string() +
                                              " is damaged at offset " + std::to_string(offset) +
                                              ": " + what);
}

std::string cString(const std::uint8_t* p, std::size_t max) {
    std::size_t n = 0;
    while (n < max && p[n] != 0)
        ++n;
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

void putDate(std::uint8_t* p) {
    std::uint8_t h[4] = {};
    stampDate(h);
    std::memcpy(p, h + 1, 3);
}

std::size_t itemLength(int keyLength) {
    return (static_cast<std::size_t>(keyLength) + 4 + 3) / 4 * 4;
}

// The nodes of one tag's B-tree, pages counted from the tag's first node page.
struct TreeNodes {
    std::vector<std::vector<std::uint8_t>> blocks;
    std::uint32_t root = 0;      //!< index into blocks
    std::uint32_t firstLeaf = 0; //!< index into blocks
    std::uint32_t lastLeaf = 0;
};

// Fills leaves left to right, then builds interior levels whose items carry the highest
// key of each child, until one node remains: the root.
TreeNodes buildTree(const TagContent& tag, std::uint32_t firstPage) {
    const std::size_t item = itemLength(tag.def.keyLength);
    const std::size_t maxKeys = (kBlock - 12) / item;
    auto pageOf = [&](std::size_t blockIndex) {
        return static_cast<std::uint32_t>(firstPage + blockIndex * kPagesPerBlock);
    };
    TreeNodes t;
    struct Child {
        std::uint32_t page;
        std::string highKey;
    };
    std::vector<Child> level;
    const auto& e = tag.entries;
    std::size_t i = 0;
    do {
        std::vector<std::uint8_t> b(kBlock, 0);
        const std::size_t n = std::min(maxKeys, e.size() - i);
        writeU32(&b[0], static_cast<std::uint32_t>(n));
        for (std::size_t k = 0; k < n; ++k) {
            std::uint8_t* it = &b[8 + k * item];
            writeU32(it, e[i + k].second);
            std::memcpy(
                it + 4, e[i + k].first.data(),
                std::min(e[i + k].first.size(), static_cast<std::size_t>(tag.def.keyLength)));
        }
        level.push_back({pageOf(t.blocks.size()), n ? e[i + n - 1].first : std::string()});
        t.blocks.push_back(std::move(b));
        i += n;
    } while (i < e.size());
    t.lastLeaf = static_cast<std::uint32_t>(t.blocks.size() - 1);
    while (level.size() > 1) {
        std::vector<Child> up;
        for (std::size_t c = 0; c < level.size();) {
            // n items and a trailing pointer: n + 1 children per node.
            const std::size_t children = std::min(maxKeys + 1, level.size() - c);
            std::vector<std::uint8_t> b(kBlock, 0);
            const std::size_t n = children - 1;
            writeU32(&b[0], static_cast<std::uint32_t>(n));
            for (std::size_t k = 0; k < n; ++k) {
                std::uint8_t* it = &b[8 + k * item];
                writeU32(it, level[c + k].page);
                const std::string& key = level[c + k].highKey;
                std::memcpy(it + 4, key.data(),
                            std::min(key.size(), static_cast<std::size_t>(tag.def.keyLength)));
            }
            writeU32(&b[8 + n * item], level[c + n].page);
            up.push_back({pageOf(t.blocks.size()), level[c + n].highKey});
            t.blocks.push_back(std::move(b));
            c += children;
        }
        level = std::move(up);
    }
    t.root = static_cast<std::uint32_t>(t.blocks.size() - 1);
    return t;
}

// Tag-table entries form a binary tree by name: the first tag is the root, later ones are
// put to the left of a smaller name and to the right otherwise (1-based entry numbers).
void linkTagNames(std::vector<std::uint8_t>& file, const std::vector<TagContent>& tags) {
    for (std::size_t i = 1; i < tags.size(); ++i) {
        std::size_t node = 0;
        for (;;) {
            std::uint8_t* e = &file[kTagTable + node * kTagEntry];
            const bool left = tags[i].def.name < tags[node].def.name;
            std::uint8_t& child = e[left ? 16 : 17];
            if (child == 0) {
                child = static_cast<std::uint8_t>(i + 1);
                file[kTagTable + i * kTagEntry + 18] = static_cast<std::uint8_t>(node + 1);
                break;
            }
            node = child - 1u;
        }
    }
}

} // namespace

std::vector<TagDef> readMdxTags(const File& mdx) {
    const std::uint64_t size = mdx.size();
    if (size < kHeaderPages * kPage) damaged(mdx, size, "the file is shorter than its header");
    std::vector<std::uint8_t> head(kHeaderPages * kPage);
    mdx.readAt(0, head.data(), head.size());
    const std::uint16_t count = readU16(&head[28]);
    if (count > kMaxTags) damaged(mdx, 28, std::to_string(count) + " tags, more than 47");
    std::vector<TagDef> tags;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = &head[kTagTable + i * kTagEntry];
        const std::uint32_t page = readU32(e);
        const std::uint64_t at = static_cast<std::uint64_t>(page) * kPage;
        if (page < kHeaderPages || at + kPage > size)
            damaged(mdx, kTagTable + i * kTagEntry,
                    "tag " + std::to_string(i + 1) + " has its header at page " +
                        std::to_string(page) + ", outside the file");
        std::uint8_t th[kBlock] = {};
        mdx.readAt(at, th, std::min<std::uint64_t>(kBlock, size - at));
        TagDef t;
        t.name = cString(e + 4, 11);
        t.keyType = static_cast<char>(th[9]);
        t.keyLength = readU16(th + 12);
        t.descending = th[8] & 0x08;
        t.unique = (th[8] & 0x40) || th[23] != 0;
        t.expression = cString(th + 24, 220);
        if (th[245] != 0) {
            t.condition = cString(th + 762, 220);
            if (t.condition.empty()) t.condition = "?";
        }
        if (t.name.empty())
            damaged(mdx, kTagTable + i * kTagEntry + 4,
                    "tag " + std::to_string(i + 1) + " has no name");
        if (t.expression.empty()) damaged(mdx, at + 24, "tag " + t.name + " has no key expression");
        tags.push_back(std::move(t));
    }
    return tags;
}

void writeMdx(const std::filesystem::path& path, const std::string& tableStem,
              const std::vector<TagContent>& tags) {
    if (tags.size() > static_cast<std::size_t>(kMaxTags))
        throw EngineError(ErrorKind::General,
                          "A production index holds at most 47 tags: " + path.string());
    std::vector<std::uint8_t> head(kHeaderPages * kPage, 0);
    head[0] = 0x02;
    putDate(&head[1]);
    const std::string stem = upperAscii(tableStem).substr(0, 15);
    std::memcpy(&head[4], stem.data(), stem.size());
    writeU16(&head[20], kPagesPerBlock);
    writeU16(&head[22], kBlock);
    head[24] = 1;
    head[25] = 48;
    head[26] = kTagEntry;
    writeU16(&head[28], static_cast<std::uint16_t>(tags.size()));
    head[30] = static_cast<std::uint8_t>(tags.size() + 1);
    head[31] = 0x1B;
    putDate(&head[44]);

    ReplacementFile out(path);
    std::uint32_t page = kHeaderPages;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        const TagContent& tag = tags[i];
        const std::uint32_t headerPage = page;
        const TreeNodes tree = buildTree(tag, headerPage + kPagesPerBlock);
        auto pageOf = [&](std::uint32_t blockIndex) {
            return headerPage + kPagesPerBlock +
                   blockIndex * static_cast<std::uint32_t>(kPagesPerBlock);
        };
        std::vector<std::uint8_t> th(kBlock, 0);
        writeU32(&th[0], pageOf(tree.root));
        writeU32(&th[4], static_cast<std::uint32_t>(tree.blocks.size() * kPagesPerBlock));
        th[8] = static_cast<std::uint8_t>(0x10 | (tag.def.descending ? 0x08 : 0) |
                                          (tag.def.unique ? 0x40 : 0));
        th[9] = static_cast<std::uint8_t>(tag.def.keyType);
        th[11] = 0x1B;
        writeU16(&th[12], static_cast<std::uint16_t>(tag.def.keyLength));
        const std::size_t item = itemLength(tag.def.keyLength);
        writeU16(&th[14], static_cast<std::uint16_t>((kBlock - 12) / item));
        writeU16(&th[16], tag.def.keyType == 'D' ? 1 : 0);
        writeU16(&th[18], static_cast<std::uint16_t>(item));
        th[20] = 1;
        th[23] = tag.def.unique ? 1 : 0;
        std::memcpy(&th[24], tag.def.expression.data(),
                    std::min<std::size_t>(tag.def.expression.size(), 219));
        th[246] = tag.entries.empty() ? 0 : 1;
        writeU32(&th[248], pageOf(tree.firstLeaf));
        writeU32(&th[252], pageOf(tree.lastLeaf));
        putDate(&th[257]);
        th[480] = tag.singleField ? 1 : 0;
        out.file().writeAt(static_cast<std::uint64_t>(headerPage) * kPage, th.data(), th.size());
        for (std::size_t b = 0; b < tree.blocks.size(); ++b)
            out.file().writeAt(static_cast<std::uint64_t>(pageOf(static_cast<std::uint32_t>(b))) *
                                   kPage,
                               tree.blocks[b].data(), kBlock);

        std::uint8_t* e = &head[kTagTable + i * kTagEntry];
        writeU32(e, headerPage);
        const std::string name = upperAscii(tag.def.name).substr(0, 10);
        std::memcpy(e + 4, name.data(), name.size());
        e[15] = 0x10;
        e[19] = 0x02;
        e[20] = static_cast<std::uint8_t>(tag.def.keyType);
        page = pageOf(static_cast<std::uint32_t>(tree.blocks.size()));
    }
    linkTagNames(head, tags);
    writeU32(&head[32], page);
    // The file header last: it counts the pages written before it.
    out.file().writeAt(0, head.data(), head.size());
    out.commit();
}

TagDef readNdxDefinition(const File& ndx) {
    const std::uint64_t size = ndx.size();
    if (size < kPage) damaged(ndx, size, "the file is shorter than its header");
    std::uint8_t h[kPage];
    ndx.readAt(0, h, sizeof h);
    TagDef t;
    t.name = upperAscii(ndx.path().stem().string());
    t.keyLength = readU16(h + 12);
    t.keyType = readU16(h + 16) == 0 ? 'C' : 'N';
    t.unique = h[23] != 0;
    t.expression = cString(h + 24, kPage - 24);
    if (t.keyLength <= 0 || t.keyLength > 100)
        damaged(ndx, 12, "the key length " + std::to_string(t.keyLength) + " is out of range");
    if (t.expression.empty()) damaged(ndx, 24, "the index has no key expression");
    return t;
}

} // namespace fieldsmith::engine::dbase
