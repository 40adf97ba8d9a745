#include "Frame.h"

#include <cstdio>

namespace rv7k {

namespace {

bool isDigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool isCanonicalNumber(std::string_view s)
{
    return isDigits(s) && (s.size() == 1 || s.front() != '0');
}

std::string hexByte(unsigned char b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

Frame judge(std::string_view raw)
{
    Frame f;
    if (raw.empty()) {
        f.error = "no check byte";
        return f;
    }
    f.payload.assign(raw.substr(0, raw.size() - 1));
    f.kind = classify(f.payload);
    const auto got = static_cast<unsigned char>(raw.back());
    const unsigned char want = checkByte(f.payload);
    f.ok = got == want;
    if (!f.ok)
        f.error = "bad check byte " + hexByte(got) + ", expected " + hexByte(want);
    return f;
}

} // namespace

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Poll: return "poll";
    case Kind::Name: return "name";
    case Kind::Length: return "length";
    case Kind::Data: return "data";
    case Kind::File: return "file";
    case Kind::End: return "end";
    case Kind::Unknown: break;
    }
    return "unknown";
}

std::optional<Kind> kindFromName(std::string_view name)
{
    for (const Kind k : {Kind::Poll, Kind::Name, Kind::Length, Kind::Data, Kind::File, Kind::End})
        if (name == kindName(k))
            return k;
    return std::nullopt;
}

unsigned char checkByte(std::string_view payload)
{
    unsigned int acc = 0;
    for (const char c : payload)
        acc ^= static_cast<unsigned char>(c);
    if (acc < 16)
        acc += 16;
    return static_cast<unsigned char>(acc);
}

Kind classify(std::string_view p)
{
    if (p == "S")
        return Kind::Poll;
    if (p == "#File#")
        return Kind::File;
    if (p == "#End#")
        return Kind::End;
    if (p.size() >= 2 && p.front() == '#' && p.back() == '#')
        return Kind::Name;
    if (p.size() >= 3 && p.front() == '%' && p.back() == '#'
        && isCanonicalNumber(p.substr(1, p.size() - 2)) && p.size() - 2 <= 18)
        return Kind::Length;
    if (isCanonicalNumber(p) && p.size() <= 3) {
        int v = 0;
        for (const char c : p)
            v = v * 10 + (c - '0');
        if (v <= 255)
            return Kind::Data;
    }
    return Kind::Unknown;
}

void FrameSplitter::feed(const char* data, std::size_t size, std::vector<Frame>& out)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\r') {
            out.push_back(judge(m_pending));
            m_pending.clear();
            continue;
        }
        if (m_pending.size() >= maxFrame) {
            Frame f;
            f.payload = m_pending;
            f.error = "frame longer than " + std::to_string(maxFrame) + " bytes";
            out.push_back(std::move(f));
            m_pending.clear();
        }
        m_pending.push_back(c);
    }
}

} // namespace rv7k
