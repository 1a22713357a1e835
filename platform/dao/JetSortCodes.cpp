#include "JetSortCodes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace dao::jet {

namespace {

// One code per character, written as: X ignored; S<hex> inline bytes; I<hex>,<hex> inline bytes and
// an extra code; U<hex> an unprintable code; P<hex> a modifier of the extra code before it. An odd
// number of hex digits has a leading zero left out.

// "General" (sort order 1033, version 1), U+0000 to U+017F. Source: see NOTICE.
const char* const kGeneral[] = {
    "X", "U3", "U4", "U5", "U6", "U7", "U8", "U9",  // U+0000
    "UA", "S705", "S706", "S707", "S708", "S709", "UB", "UC",  // U+0008
    "UD", "UE", "UF", "U10", "U11", "U12", "U13", "U14",  // U+0010
    "U15", "U16", "U17", "U18", "U19", "U1A", "U1B", "U1C",  // U+0018
    "S702", "S71C", "S71D", "S71F", "S721", "S723", "S725", "U80",  // U+0020
    "S727", "S72A", "S72D", "S803", "S72F", "U82", "S733", "S735",  // U+0028
    "SD17", "SD19", "SD1A", "SD1B", "SD1C", "SD1D", "SD1E", "SD1F",  // U+0030
    "SD20", "SD21", "S737", "S73A", "S80E", "S812", "S814", "S73C",  // U+0038
    "S73E", "SE02", "SE09", "SE0A", "SE1A", "SE21", "SE23", "SE25",  // U+0040
    "SE2C", "SE32", "SE35", "SE36", "SE48", "SE51", "SE70", "SE7C",  // U+0048
    "SE7E", "SE89", "SE8A", "SE91", "SE99", "SE9F", "SEA2", "SEA4",  // U+0050
    "SEA6", "SEA7", "SEA9", "S73F", "S741", "S742", "S743", "S744",  // U+0058
    "S748", "SE02", "SE09", "SE0A", "SE1A", "SE21", "SE23", "SE25",  // U+0060
    "SE2C", "SE32", "SE35", "SE36", "SE48", "SE51", "SE70", "SE7C",  // U+0068
    "SE7E", "SE89", "SE8A", "SE91", "SE99", "SE9F", "SEA2", "SEA4",  // U+0070
    "SEA6", "SEA7", "SEA9", "S74A", "S74C", "S74E", "S750", "U1D",  // U+0078
    "ICFA,1D", "ICFA,1E", "ICFA,1F", "ICFA,20", "ICFA,21", "ICFA,22", "ICFA,23", "ICFA,24",  // U+0080
    "ICFA,25", "ICFA,26", "ICFA,27", "ICFA,28", "ICFA,29", "ICFA,2A", "ICFA,2B", "ICFA,2C",  // U+0088
    "ICFA,2D", "ICFA,2E", "ICFA,2F", "ICFA,30", "ICFA,31", "ICFA,32", "ICFA,33", "ICFA,34",  // U+0090
    "ICFA,35", "ICFA,36", "ICFA,37", "ICFA,38", "ICFA,39", "ICFA,3A", "ICFA,3B", "ICFA,3C",  // U+0098
    "S704", "S751", "S797", "S798", "S799", "S79A", "S752", "SA06",  // U+00A0
    "S753", "SA07", "IE02,3", "S818", "SA08", "X", "SA09", "S754",  // U+00A8
    "SA0A", "S817", "SD1A", "SD1B", "S755", "SA0B", "SA0C", "SA0D",  // U+00B0
    "S756", "SD19", "IE7C,3", "S81A", "ID18,CE", "ID18,D6", "ID1B,DE", "S757",  // U+00B8
    "IE02,F", "IE02,E", "IE02,12", "IE02,19", "IE02,13", "IE02,1A", "SE020E21", "IE0A,1C",  // U+00C0
    "IE21,F", "IE21,E", "IE21,12", "IE21,13", "IE32,F", "IE32,E", "IE32,12", "IE32,13",  // U+00C8
    "IE1A,68", "IE70,19", "IE7C,F", "IE7C,E", "IE7C,12", "IE7C,19", "IE7C,13", "S81C",  // U+00D0
    "IE7C,21", "IE9F,F", "IE9F,E", "IE9F,12", "SE9F0E21", "IEA7,E", "SE990E2C", "SE910E91",  // U+00D8
    "IE02,F", "IE02,E", "IE02,12", "IE02,19", "IE02,13", "IE02,1A", "SE020E21", "IE0A,1C",  // U+00E0
    "IE21,F", "IE21,E", "IE21,12", "IE21,13", "IE32,F", "IE32,E", "IE32,12", "IE32,13",  // U+00E8
    "IE1A,68", "IE70,19", "IE7C,F", "IE7C,E", "IE7C,12", "IE7C,19", "IE7C,13", "S81D",  // U+00F0
    "IE7C,21", "IE9F,F", "IE9F,E", "IE9F,12", "SE9F0E21", "IEA7,E", "SE990E2C", "IEA7,13",  // U+00F8
    "IE02,17", "IE02,17", "IE02,15", "IE02,15", "IE02,1B", "IE02,1B", "IE0A,E", "IE0A,E",  // U+0100
    "IE0A,12", "IE0A,12", "IE0A,10", "IE0A,10", "IE0A,14", "IE0A,14", "IE1A,14", "IE1A,14",  // U+0108
    "IE1A,1E", "IE1A,1E", "IE21,17", "IE21,17", "IE21,15", "IE21,15", "IE21,10", "IE21,10",  // U+0110
    "IE21,1B", "IE21,1B", "IE21,14", "IE21,14", "IE25,12", "IE25,12", "IE25,15", "IE25,15",  // U+0118
    "IE25,10", "IE25,10", "IE25,1C", "IE25,1C", "IE2C,12", "IE2C,12", "IE2C,1E", "IE2C,1E",  // U+0120
    "IE32,19", "IE32,19", "IE32,17", "IE32,17", "IE32,15", "IE32,15", "IE32,1B", "IE32,1B",  // U+0128
    "IE32,10", "IE32,3", "SE320E35", "SE320E35", "IE35,12", "IE35,12", "IE36,1C", "IE36,1C",  // U+0130
    "IE36,3", "IE48,E", "IE48,E", "IE48,1C", "IE48,1C", "IE48,14", "IE48,14", "IE48,11",  // U+0138
    "IE48,11", "IE48,1F", "IE48,1F", "IE70,E", "IE70,E", "IE70,1C", "IE70,1C", "IE70,14",  // U+0140
    "IE70,14", "IE70,48", "SE74", "SE74", "IE7C,17", "IE7C,17", "IE7C,15", "IE7C,15",  // U+0148
    "IE7C,1D", "IE7C,1D", "SE7C0E21", "SE7C0E21", "IE8A,E", "IE8A,E", "IE8A,1C", "IE8A,1C",  // U+0150
    "IE8A,14", "IE8A,14", "IE91,E", "IE91,E", "IE91,12", "IE91,12", "IE91,1C", "IE91,1C",  // U+0158
    "IE91,14", "IE91,14", "IE99,1C", "IE99,1C", "IE99,14", "IE99,14", "IE9E,1E", "IE9E,1E",  // U+0160
    "IE9F,19", "IE9F,19", "IE9F,17", "IE9F,17", "IE9F,15", "IE9F,15", "IE9F,1A", "IE9F,1A",  // U+0168
    "IE9F,1D", "IE9F,1D", "IE9F,1B", "IE9F,1B", "IEA4,12", "IEA4,12", "IEA7,12", "IEA7,12",  // U+0170
    "IEA7,13", "IEA9,E", "IEA9,E", "IEA9,10", "IEA9,10", "IEA9,14", "IEA9,14", "SE96",  // U+0178
};

// "General Legacy" (sort order 1033, version 0): the characters whose codes the Jet 4 files' own
// index pages show, with the letters and digits they leave out completed from libmdb's table of the
// same order (which agrees with every code the files show). Case does not change a code. Source: see
// NOTICE.
const std::pair<char16_t, const char*> kGeneralLegacy[] = {
    {0x03, "U5"},  {' ', "S07"},  {'0', "S36"}, {'1', "S38"}, {'2', "S3A"}, {'3', "S3C"}, {'4', "S3E"},
    {'5', "S40"},  {'6', "S42"},  {'7', "S44"}, {'8', "S46"}, {'9', "S48"}, {'?', "S24"}, {'A', "S4A"},
    {'B', "S4C"},  {'C', "S4D"},  {'D', "S4F"}, {'E', "S51"}, {'F', "S53"}, {'G', "S55"}, {'H', "S57"},
    {'I', "S59"},  {'J', "S5B"},  {'K', "S5C"}, {'L', "S5E"}, {'M', "S60"}, {'N', "S62"}, {'O', "S64"},
    {'P', "S66"},  {'Q', "S68"},  {'R', "S69"}, {'S', "S6B"}, {'T', "S6D"}, {'U', "S6F"}, {'V', "S71"},
    {'W', "S73"},  {'X', "S75"},  {'Y', "S76"}, {'Z', "S78"}, {'_', "S2B03"}, {'a', "S4A"}, {'b', "S4C"},
    {'c', "S4D"},  {'d', "S4F"},  {'e', "S51"}, {'f', "S53"}, {'g', "S55"}, {'h', "S57"}, {'i', "S59"},
    {'j', "S5B"},  {'k', "S5C"},  {'l', "S5E"}, {'m', "S60"}, {'n', "S62"}, {'o', "S64"}, {'p', "S66"},
    {'q', "S68"},  {'r', "S69"},  {'s', "S6B"}, {'t', "S6D"}, {'u', "S6F"}, {'v', "S71"}, {'w', "S73"},
    {'x', "S75"},  {'y', "S76"},  {'z', "S78"},
};

constexpr uint16_t kSortGeneral = 1033;

QByteArray hexBytes(const char* s, int n) {
    QByteArray hex(s, n);
    if (hex.size() % 2) hex.prepend('0');
    return QByteArray::fromHex(hex);
}

}  // namespace

JetSortCodes::JetSortCodes(const QString& name, const char* const* dense, int denseCount,
                           const std::pair<char16_t, const char*>* sparse, int sparseCount)
    : name_(name), dense_(dense), denseCount_(denseCount), sparse_(sparse), sparseCount_(sparseCount) {}

const JetSortCodes& JetSortCodes::general() {
    static const JetSortCodes codes(QStringLiteral("General"), kGeneral, int(std::size(kGeneral)), nullptr, 0);
    return codes;
}

const JetSortCodes& JetSortCodes::generalLegacy() {
    static const JetSortCodes codes(QStringLiteral("General Legacy"), nullptr, 0, kGeneralLegacy,
                                    int(std::size(kGeneralLegacy)));
    return codes;
}

const JetSortCodes* JetSortCodes::forColumn(const ColumnDef& c) {
    if (c.type != ColText || c.sortOrder != kSortGeneral) return nullptr;
    if (c.sortVersion == 0) return &generalLegacy();
    if (c.sortVersion == 1) return &general();
    return nullptr;
}

JetSortCodes::Code JetSortCodes::code(char16_t ch) const {
    const char* text = nullptr;
    if (ch < denseCount_) {
        text = dense_[ch];
    } else if (sparse_) {
        const auto* end = sparse_ + sparseCount_;
        const auto* it = std::lower_bound(sparse_, end, ch, [](const auto& e, char16_t c) { return e.first < c; });
        if (it != end && it->first == ch) text = it->second;
    }
    Code out;
    if (!text || !*text) return out;
    const char* body = text + 1;
    const int n = int(std::strlen(body));
    switch (text[0]) {
        case 'X':
            out.kind = Ignored;
            break;
        case 'S':
            out.kind = Simple;
            out.inlineBytes = hexBytes(body, n);
            break;
        case 'I': {
            const char* comma = std::strchr(body, ',');
            if (!comma) return out;
            out.kind = International;
            out.inlineBytes = hexBytes(body, int(comma - body));
            out.extra = hexBytes(comma + 1, int(std::strlen(comma + 1)));
            break;
        }
        case 'U':
            out.kind = Unprintable;
            out.extra = hexBytes(body, n);
            break;
        case 'P':
            out.kind = ExtraModifier;
            out.modifier = uint8_t(hexBytes(body, n).at(0));
            break;
        default:
            break;
    }
    return out;
}

}  // namespace dao::jet
