#include "net/certificate_subject.h"

#include <cstdint>

namespace tarnel {

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kVersionTag = 0xA0;  // [0] EXPLICIT, constructed

// Lengths of more than four bytes are far beyond any certificate.
constexpr size_t kMostLengthBytes = 4;

struct Element {
    unsigned char tag = 0;
    std::string_view whole;  // tag, length and contents
    std::string_view contents;
};

// Takes the element at the front of bytes off it. False when it is cut short, has a tag of more
// than one byte or an indefinite length. A length in more bytes than it needs is taken, as
// OpenSSL's decoder takes it.
bool take_element(std::string_view& bytes, Element& element) {
    if (bytes.size() < 2 || (static_cast<unsigned char>(bytes[0]) & 0x1F) == 0x1F) {
        return false;
    }
    const auto first = static_cast<unsigned char>(bytes[1]);
    size_t header = 2;
    uint64_t length = first;
    if (first & 0x80) {
        const size_t count = first & 0x7F;
        if (count == 0 || count > kMostLengthBytes || bytes.size() < 2 + count) {
            return false;
        }
        length = 0;
        for (size_t i = 0; i < count; ++i) {
            length = (length << 8) | static_cast<unsigned char>(bytes[2 + i]);
        }
        header += count;
    }
    if (length > bytes.size() - header) {
        return false;
    }
    element.tag = static_cast<unsigned char>(bytes[0]);
    element.whole = bytes.substr(0, header + length);
    element.contents = bytes.substr(header, length);
    bytes.remove_prefix(header + length);
    return true;
}

bool take(std::string_view& bytes, unsigned char tag, Element& element) {
    return take_element(bytes, element) && element.tag == tag;
}

}  // namespace

std::string_view certificate_subject(std::string_view der) {
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL, serialNumber,
    // signature, issuer, validity, subject, ... }, ... }
    Element certificate;
    Element tbs;
    Element field;
    if (!take(der, kSequence, certificate) || !take(certificate.contents, kSequence, tbs)) {
        return {};
    }
    std::string_view fields = tbs.contents;
    if (!take_element(fields, field)) {
        return {};
    }
    if (field.tag == kVersionTag && !take_element(fields, field)) {
        return {};
    }
    if (field.tag != kInteger) {
        return {};
    }
    for (int skipped = 0; skipped < 3; ++skipped) {  // signature, issuer, validity
        if (!take(fields, kSequence, field)) {
            return {};
        }
    }
    return take(fields, kSequence, field) ? field.whole : std::string_view();
}

}  // namespace tarnel
