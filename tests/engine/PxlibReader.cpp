#include "PxlibReader.h"

extern "C" {
#include <paradox.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace fieldsmith::test {

namespace {

// Collects pxlib's messages instead of printing them.
void collectError(pxdoc_t*, int, const char* msg, void* data) {
    auto* messages = static_cast<std::string*>(data);
    if (!messages->empty()) *messages += "; ";
    *messages += msg;
}

struct DocDeleter {
    void operator()(pxdoc_t* doc) const {
        PX_close(doc);
        PX_delete(doc);
    }
};

bool allZero(const char* p, int n) {
    return std::all_of(p, p + n, [](char c) { return c == 0; });
}

// Copies a string pxlib allocated and frees it.
std::string take(pxdoc_t* doc, char* s, std::size_t n) {
    std::string out(s, n);
    doc->free(doc, s);
    return out;
}

PxValue decode(pxdoc_t* doc, const PxField& f, char* p) {
    PxValue v;
    int rc = 0;
    switch (f.type) {
    case pxfAlpha: {
        char* s = nullptr;
        rc = PX_get_data_alpha(doc, p, f.width, &s);
        if (rc > 0 && s) v.text = take(doc, s, std::strlen(s));
        break;
    }
    case pxfBytes: {
        char* s = nullptr;
        rc = PX_get_data_bytes(doc, p, f.width, &s);
        if (rc > 0 && s) v.text = take(doc, s, static_cast<std::size_t>(f.width));
        break;
    }
    case pxfDate:
    case pxfTime:
    case pxfLong:
    case pxfAutoInc:
        rc = PX_get_data_long(doc, p, 4, &v.integer);
        break;
    case pxfShort: {
        short s = 0;
        rc = PX_get_data_short(doc, p, 2, &s);
        v.integer = s;
        break;
    }
    case pxfNumber:
    case pxfCurrency:
    case pxfTimestamp:
        rc = PX_get_data_double(doc, p, 8, &v.number);
        break;
    case pxfLogical: {
        char c = 0;
        rc = PX_get_data_byte(doc, p, 1, &c);
        v.integer = c;
        break;
    }
    case pxfBCD: {
        char* s = nullptr;
        rc = PX_get_data_bcd(doc, reinterpret_cast<unsigned char*>(p), f.decimals, &s);
        if (rc > 0 && s) {
            v.text = take(doc, s, std::strlen(s));
            v.number = std::strtod(v.text.c_str(), nullptr);
        }
        break;
    }
    default:
        return v; // blobs: only the raw bytes, see rawRecords
    }
    // pxlib 0.6.8 reports an all-zero Long, Date or Time as -2147483648 rather than as
    // blank; all-zero is the format's blank for every type, and that value is not storable.
    v.isNull = rc <= 0 || allZero(p, f.width);
    return v;
}

} // namespace

bool pxlibDecodes(int type) {
    return type < pxfMemoBLOb || type > pxfGraphic;
}

PxTable readWithPxlib(const std::filesystem::path& db) {
    std::string messages;
    std::unique_ptr<pxdoc_t, DocDeleter> doc(
        PX_new3(collectError, nullptr, nullptr, nullptr, &messages));
    if (!doc) throw std::runtime_error("pxlib: cannot create a document");
    if (PX_open_file(doc.get(), db.c_str()) < 0)
        throw std::runtime_error("pxlib cannot open " + db.string() + ": " + messages);
    PxTable t;
    const pxhead_t* head = doc->px_head;
    t.recordCount = PX_get_num_records(doc.get());
    t.codePage = head->px_doscodepage;
    t.sortOrder = static_cast<unsigned char>(head->px_sortorder);
    const int n = PX_get_num_fields(doc.get());
    int offset = 0;
    for (int i = 0; i < n; ++i) {
        const pxfield_t* pf = PX_get_field(doc.get(), i);
        PxField f;
        f.name = pf->px_fname ? pf->px_fname : "";
        f.type = static_cast<unsigned char>(pf->px_ftype);
        f.width = pf->px_flen;
        f.decimals = pf->px_fdc;
        f.offset = offset;
        offset += f.width;
        t.fields.push_back(f);
    }
    std::string raw(static_cast<std::size_t>(PX_get_recordsize(doc.get())), '\0');
    for (int r = 0; r < t.recordCount; ++r) {
        if (!PX_get_record(doc.get(), r, raw.data()))
            throw std::runtime_error("pxlib cannot read record " + std::to_string(r) + " of " +
                                     db.string() + ": " + messages);
        std::vector<PxValue> values;
        for (const auto& f : t.fields)
            values.push_back(decode(doc.get(), f, raw.data() + f.offset));
        t.records.push_back(std::move(values));
        t.rawRecords.push_back(raw);
    }
    return t;
}

} // namespace fieldsmith::test
