// A scriptable PKCS#11 module for the end-to-end tests: what it holds, which calls fail and how
// it misbehaves come from a scenario file, and every call is logged (see SCENARIOS.md).
#define CRYPTOKI_EXPORTS  // under _WIN32 the header then marks C_GetFunctionList dllexport
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#define TM_EXPORT
#else
#define TM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using Bytes = std::string;
using Types = std::vector<CK_ATTRIBUTE_TYPE>;

struct Object {
    CK_SLOT_ID slot = 0;
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attrs;
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> lengths;  // what a length query reports instead
    Types unavailable;
    bool stray = false;
};

struct Slot {
    CK_SLOT_ID id;
    bool token, loggedIn;
};

struct Session {
    CK_SLOT_ID slot = 0;
    bool searching = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t next = 0;
};

const CK_OBJECT_HANDLE kFirstObject = 101;

struct State {
    bool loaded = false, broken = false, initialised = false;
    bool findOverflow = false, slotGrow = false, slotShrink = false, slotCount = false;
    bool nullTable = false, reportSigint = false;
    CK_FLAGS tokenFlags = 0;       // added to every token's flags
    CK_ULONG page = ~CK_ULONG(0);  // handles per C_FindObjects call at the most
    bool hasPin = false;
    Bytes pin;
    std::vector<Slot> slots;
    std::vector<Object> objects;  // object handle = kFirstObject + index
    std::map<std::pair<std::string, CK_ULONG>, CK_RV> fails;
    std::map<std::string, CK_ULONG> calls;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
} g;

Bytes Native(CK_ULONG v) {
    return Bytes(reinterpret_cast<const char*>(&v), sizeof v);
}

// Every attribute an object has: its name in the log and in `raw.`, `missing=` and
// `unavailable=`, the field that sets it, how that field's value is written, and its default.
enum Kind { kNumber, kFlag, kBytes };
struct Attr {
    const char* name;
    const char* field;
    CK_ATTRIBUTE_TYPE type;
    Kind kind;
    Bytes init;
};
const Attr kAttrs[] = {
    {"CLASS", "class", CKA_CLASS, kNumber, Native(CKO_CERTIFICATE)},
    {"TOKEN", "token", CKA_TOKEN, kFlag, Bytes(1, '\1')},
    {"LABEL", "label", CKA_LABEL, kBytes, ""},
    {"ID", "id", CKA_ID, kBytes, ""},
    {"VALUE", "value", CKA_VALUE, kBytes, ""},
    {"SUBJECT", "subject", CKA_SUBJECT, kBytes, ""},
    {"CERTIFICATE_TYPE", "certtype", CKA_CERTIFICATE_TYPE, kNumber, Native(CKC_X_509)}};

template <typename Match>
const Attr* FindAttr(Match match) {
    auto it = std::find_if(std::begin(kAttrs), std::end(kAttrs), match);
    return it == std::end(kAttrs) ? nullptr : it;
}

// Functions a `fail` line may name; a misspelt one is a scenario error, not a silent no-op.
const char* const kFunctions[] = {"C_GetFunctionList", "C_Initialize",       "C_Finalize",
                                  "C_GetSlotList",     "C_OpenSession",      "C_CloseSession",
                                  "C_Login",           "C_Logout",           "C_FindObjectsInit",
                                  "C_FindObjects",     "C_FindObjectsFinal", "C_GetAttributeValue",
                                  "C_GetSlotInfo",     "C_GetTokenInfo"};

// The escapes of the scenario syntax, in both directions; the final NUL of kUnescaped is \0.
const char kEscapes[] = "nrt\\\"0";
const char kUnescaped[] = "\n\r\t\\\"";

// Ends a function with the result rv, or the reading of a scenario line: C_Initialize then
// answers CKR_GENERAL_ERROR.
void Check(bool ok, CK_RV rv = CKR_GENERAL_ERROR) {
    if (!ok) {
        throw rv;
    }
}

// ---- call log ----

// Opened and closed per line so that the log survives a crash of the host.
void Log(const std::string& text) {
    const char* path = std::getenv("P11TEST_LOG");
    std::FILE* f = path && *path ? std::fopen(path, "ab") : nullptr;
    if (f) {
        std::string line = text + "\n";
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

struct Unload {
    ~Unload() { Log("unload"); }
} unload;

std::string Dec(CK_ULONG v) {
    return std::to_string(v);
}

std::string Hex(CK_ULONG v) {
    std::ostringstream s;
    s << std::hex << v;
    return s.str();
}

// Logs a finished call with its result and passes the result on.
CK_RV Log(const std::string& call, CK_RV rv) {
    Log(call + " -> " + Hex(rv));
    return rv;
}

std::string Out(const CK_ULONG* p) {
    return p ? Dec(*p) : "NULL";
}

std::string SetOrNull(bool set) {
    return set ? "SET" : "NULL";
}

std::string HexBytes(const unsigned char* p, CK_ULONG n) {
    const char* hex = "0123456789abcdef";
    std::string s;
    for (CK_ULONG i = 0; i < n; ++i) {
        s += hex[p[i] >> 4];
        s += hex[p[i] & 15];
    }
    return s;
}

std::string Quote(const unsigned char* p, CK_ULONG n) {
    std::string s = "\"";
    for (CK_ULONG i = 0; i < n; ++i) {
        // memchr also finds the final NUL, so a zero byte becomes \0.
        const void* esc = std::memchr(kUnescaped, p[i], sizeof kUnescaped);
        if (esc) {
            s += '\\';
            s += kEscapes[static_cast<const char*>(esc) - kUnescaped];
        } else if (p[i] >= 0x20 && p[i] < 0x7f) {
            s += static_cast<char>(p[i]);
        } else {
            s += "\\x" + HexBytes(&p[i], 1);
        }
    }
    return s + "\"";
}

// `[NAME=value,...]` for a search template, `[NAME,...]` for an attribute query.
std::string Template(CK_ATTRIBUTE_PTR t, CK_ULONG n, bool values) {
    if (!t && n) {
        return "NULL";
    }
    std::string s = "[";
    for (CK_ULONG i = 0; i < n; ++i) {
        const Attr* a = FindAttr([&](const Attr& x) { return x.type == t[i].type; });
        s += (i ? "," : "") + (a ? a->name : Hex(t[i].type));
        const auto* p = static_cast<const unsigned char*>(t[i].pValue);
        CK_ULONG len = t[i].ulValueLen, native = 0;
        if (!values) {
            continue;
        } else if (!p && len) {
            s += "=NULL";
        } else if (len == sizeof native) {
            std::memcpy(&native, p, sizeof native);
            s += "=" + Dec(native);
        } else if (len == 1) {
            s += "=" + Dec(p[0]);
        } else {
            s += "=x:" + HexBytes(p, len);
        }
    }
    return s + "]";
}

// ---- scenario file ----

// Decimal, or hexadecimal with base 16 or a 0x prefix; must fit a CK_ULONG.
bool ParseNum(std::string s, CK_ULONG& out, int base = 10) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.erase(0, 2);
        base = 16;
    }
    const char* digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
    if (s.empty() || s.find_first_not_of(digits) != std::string::npos) {
        return false;
    }
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), nullptr, base);
    out = static_cast<CK_ULONG>(v);
    return errno == 0 && out == v;
}

CK_ULONG Num(const std::string& s, int base = 10) {
    CK_ULONG v = 0;
    Check(ParseNum(s, v, base));
    return v;
}

bool Flag(const std::string& s) {
    Check(s == "0" || s == "1");
    return s == "1";
}

Bytes Unhex(const std::string& hex) {
    Check(hex.size() % 2 == 0 && hex.find_first_not_of("0123456789abcdefABCDEF") == hex.npos);
    Bytes out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// A file that cannot be read, such as a directory, reads as empty once it is open.
bool ReadFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    out = text.str();
    return in.is_open();
}

// `"text"` with escapes, `x:HEX` or `@path`, each optionally followed by `*N`.
Bytes ParseBytes(const std::string& s) {
    Bytes once;
    size_t end = s.rfind('*');  // where `*N` begins
    CK_ULONG times = 1;
    if (s.compare(0, 1, "\"") == 0) {
        for (end = 1; end < s.size() && s[end] != '"'; ++end) {
            if (s[end] != '\\') {
                once += s[end];
                continue;
            }
            // At the end of s the NUL is read, which strchr finds as the end of kEscapes.
            const char* esc = std::strchr(kEscapes, s[++end]);
            if (esc && *esc) {
                once += kUnescaped[esc - kEscapes];
            } else {
                Check(s[end] == 'x' && s.size() >= end + 3);
                once += Unhex(s.substr(end + 1, 2));
                end += 2;
            }
        }
        Check(end++ < s.size());  // the closing quote
    } else {
        CK_ULONG n;
        if (end == std::string::npos || !ParseNum(s.substr(end + 1), n)) {  // no `*N`
            end = s.size();
        }
        std::string body = s.substr(0, end);
        if (body.compare(0, 2, "x:") == 0) {
            once = Unhex(body.substr(2));
        } else {
            Check(body.size() > 1 && body[0] == '@' && ReadFile(body.substr(1), once));
        }
    }
    if (end < s.size()) {
        Check(s[end] == '*');
        times = Num(s.substr(end + 1));
    }
    Bytes out;
    for (CK_ULONG i = 0; i < times; ++i) {
        out += once;
    }
    return out;
}

// Splits at blanks outside double quotes; a backslash inside quotes keeps the next character.
std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string w;
    bool quoted = false;
    for (size_t i = 0; i <= line.size(); ++i) {
        char c = i < line.size() ? line[i] : ' ';  // a blank at the end ends the last word
        if (!quoted && (c == ' ' || c == '\t')) {
            if (!w.empty()) {
                words.push_back(w);
            }
            w.clear();
            continue;
        }
        w += c;
        if (quoted && c == '\\' && i + 1 < line.size()) {
            w += line[++i];
        } else if (c == '"') {
            quoted = !quoted;
        }
    }
    Check(!quoted);
    return words;
}

CK_ATTRIBUTE_TYPE AttrNamed(const std::string& name) {
    const Attr* a = FindAttr([&](const Attr& x) { return name == x.name; });
    Check(a);
    return a->type;
}

// A comma-separated list of attribute names, added to `out`.
void ParseAttrList(const std::string& list, Types& out) {
    Check(!list.empty() && list.back() != ',');
    std::istringstream in(list);
    for (std::string name; std::getline(in, name, ',');) {
        out.push_back(AttrNamed(name));
    }
}

Slot* FindSlot(CK_SLOT_ID id) {
    auto it = std::find_if(g.slots.begin(), g.slots.end(), [&](Slot& s) { return s.id == id; });
    return it == g.slots.end() ? nullptr : &*it;
}

void ParseObject(const std::vector<std::string>& words) {
    Object o;
    for (const Attr& a : kAttrs) {
        o.attrs[a.type] = a.init;
    }
    std::map<CK_ATTRIBUTE_TYPE, Bytes> raw;
    Types missing;
    CK_ULONG count = 1;
    bool haveSlot = false;
    for (size_t i = 1; i < words.size(); ++i) {
        size_t eq = words[i].find('=');
        Check(eq != std::string::npos);
        std::string key = words[i].substr(0, eq), val = words[i].substr(eq + 1);
        const Attr* field = FindAttr([&](const Attr& x) { return key == x.field; });
        if (key == "slot") {
            const Slot* s = FindSlot(o.slot = Num(val));
            Check(haveSlot = s && s->token);  // the slot's line must come first
        } else if (field) {
            o.attrs[field->type] = field->kind == kNumber ? Native(Num(val))
                                   : field->kind == kFlag ? Bytes(1, Flag(val))
                                                          : ParseBytes(val);
        } else if (key.compare(0, 4, "raw.") == 0) {
            raw[AttrNamed(key.substr(4))] = ParseBytes(val);
        } else if (key.compare(0, 7, "length.") == 0) {
            o.lengths[AttrNamed(key.substr(7))] = Num(val);
        } else if (key == "missing" || key == "unavailable") {
            ParseAttrList(val, key == "missing" ? missing : o.unavailable);
        } else if (key == "stray") {
            o.stray = Flag(val);
        } else {
            Check(key == "count");
            count = Num(val);
        }
    }
    Check(haveSlot);
    raw.insert(o.attrs.begin(), o.attrs.end());  // keeps the raw values
    o.attrs = raw;
    for (CK_ATTRIBUTE_TYPE type : missing) {
        o.attrs.erase(type);
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        Object copy = o;
        std::string index = (i < 10 ? "0" : "") + Dec(i);
        for (CK_ATTRIBUTE_TYPE type : {CKA_LABEL, CKA_ID}) {
            auto it = copy.attrs.find(type);
            for (size_t at = 0; it != copy.attrs.end() &&
                                (at = it->second.find("{n}", at)) != std::string::npos;) {
                it->second.replace(at, 3, index);
            }
        }
        g.objects.push_back(copy);
    }
}

void ParseLine(const std::vector<std::string>& w) {
    if (w[0] == "slot" && (w.size() == 2 || (w.size() == 3 && w[2] == "empty"))) {
        CK_SLOT_ID id = Num(w[1]);
        Check(!FindSlot(id));
        g.slots.push_back({id, w.size() == 2, false});
    } else if (w[0] == "pin" && w.size() == 2) {
        g.pin = ParseBytes(w[1]);
        g.hasPin = true;
    } else if (w[0] == "object") {
        ParseObject(w);
    } else if (w[0] == "fail" && w.size() == 4) {
        Check(std::find(std::begin(kFunctions), std::end(kFunctions), w[1]) !=
              std::end(kFunctions));
        CK_ULONG call = Num(w[2]);
        Check(call > 0);
        g.fails[{w[1], call}] = Num(w[3], 16);
    } else if (w[0] == "tokenflags" && w.size() == 2) {
        g.tokenFlags = Num(w[1], 16);
    } else if (w[0] == "page" && w.size() == 2) {
        g.page = Num(w[1]);
    } else if (w[0] == "report" && w.size() == 2 && w[1] == "sigint") {
        g.reportSigint = true;
    } else {
        std::map<std::string, bool*> hostile = {{"findoverflow", &g.findOverflow},
                                                {"slotgrow", &g.slotGrow},
                                                {"slotshrink", &g.slotShrink},
                                                {"slotcount", &g.slotCount},
                                                {"nulltable", &g.nullTable}};
        Check(w[0] == "hostile" && w.size() == 2 && hostile.count(w[1]));
        *hostile[w[1]] = true;
    }
}

void ScenarioError(const std::string& line) {
    Log("scenario error: " + line);
    g.broken = true;
}

// Read on the first call of any function, so that even C_GetFunctionList can be scripted.
void Load() {
    const char* path = std::getenv("P11TEST_SCENARIO");
    Bytes text;
    if (std::exchange(g.loaded, true) || !path || !*path) {
        return;
    }
    if (!ReadFile(path, text)) {
        ScenarioError(std::string("cannot read ") + path);
    }
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t first = line.find_first_not_of(" \t");
        try {
            if (first != std::string::npos && line[first] != '#') {
                ParseLine(SplitWords(line));
            }
        } catch (CK_RV) {
            ScenarioError(line);
        }
    }
}

// ---- the functions ----

// Counts the call; an injected result answers it, else the initialisation rule, else the body,
// which stops at the first failed Check or ends with CKR_OK.
template <typename F>
CK_RV Run(const char* fn, bool needsInit, F body) {
    Load();
    auto fail = g.fails.find({fn, ++g.calls[fn]});
    if (fail != g.fails.end()) {
        return fail->second;
    }
    try {
        Check(g.initialised || !needsInit, CKR_CRYPTOKI_NOT_INITIALIZED);
        body();
        return CKR_OK;
    } catch (CK_RV rv) {
        return rv;
    }
}

Session& SessionOf(CK_SESSION_HANDLE h) {
    auto it = g.sessions.find(h);
    Check(it != g.sessions.end(), CKR_SESSION_HANDLE_INVALID);
    return it->second;
}

// Whether the host runs with SIGINT ignored, as a parent may start it: the tool must not change
// what it was given.
void ReportSigint() {
    void (*previous)(int) = std::signal(SIGINT, SIG_IGN);
    std::signal(SIGINT, previous);
    Log(previous == SIG_IGN ? "SIGINT ignored" : "SIGINT not ignored");
}

CK_RV Initialize(CK_VOID_PTR args) {
    CK_RV rv = Run("C_Initialize", false, [&] {
        if (g.reportSigint) {
            ReportSigint();
        }
        Check(!g.broken, CKR_GENERAL_ERROR);
        Check(!g.initialised, CKR_CRYPTOKI_ALREADY_INITIALIZED);
        Check(!args || !static_cast<CK_C_INITIALIZE_ARGS*>(args)->pReserved, CKR_ARGUMENTS_BAD);
        g.initialised = true;
    });
    return Log("C_Initialize args=" + SetOrNull(args), rv);
}

CK_RV Finalize(CK_VOID_PTR reserved) {
    CK_RV rv = Run("C_Finalize", true, [&] {
        Check(!reserved, CKR_ARGUMENTS_BAD);
        g.sessions.clear();
        for (Slot& s : g.slots) {
            s.loggedIn = false;
        }
        g.initialised = false;
    });
    return Log("C_Finalize args=" + SetOrNull(reserved), rv);
}

CK_RV GetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    std::string written;
    CK_RV rv = Run("C_GetSlotList", true, [&] {
        Check(count, CKR_ARGUMENTS_BAD);
        std::vector<CK_SLOT_ID> ids;
        for (const Slot& s : g.slots) {
            if (s.token || !present) {
                ids.push_back(s.id);
            }
        }
        const bool second = list && g.calls["C_GetSlotList"] == 2;
        if (second && g.slotShrink && !ids.empty()) {
            ids.pop_back();  // as when a card leaves between the two calls
        }
        CK_ULONG room = *count;
        bool grow = second && g.slotGrow;
        *count = grow ? room + 1 : !list && g.slotCount ? ~CK_ULONG(0) : ids.size();
        Check(!list || grow || room >= ids.size(), CKR_BUFFER_TOO_SMALL);
        for (CK_ULONG i = 0; list && i < ids.size() && i < room; ++i) {
            list[i] = ids[i];
            written += (i ? "," : "") + Dec(ids[i]);
        }
    });
    return Log("C_GetSlotList tokenPresent=" + Dec(present) +
                   " list=" + (list ? "[" + written + "]" : "NULL") + " count=" + Out(count),
               rv);
}

// Ends a call on a slot without a token with the standard's error.
void CheckToken(CK_SLOT_ID id) {
    const Slot* s = FindSlot(id);
    Check(s, CKR_SLOT_ID_INVALID);
    Check(s->token, CKR_TOKEN_NOT_PRESENT);
}

CK_RV OpenSession(CK_SLOT_ID id, CK_FLAGS flags, CK_VOID_PTR app, CK_NOTIFY notify,
                  CK_SESSION_HANDLE_PTR session) {
    CK_RV rv = Run("C_OpenSession", true, [&] {
        CheckToken(id);
        Check(session, CKR_ARGUMENTS_BAD);
        Check(flags & CKF_SERIAL_SESSION, CKR_SESSION_PARALLEL_NOT_SUPPORTED);
        *session = g.nextSession++;
        g.sessions[*session].slot = id;
    });
    return Log("C_OpenSession slot=" + Dec(id) + " flags=" + Hex(flags) + " app=" + SetOrNull(app) +
                   " notify=" + SetOrNull(notify) + " session=" + Out(session),
               rv);
}

CK_RV GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) {
    CK_RV rv = Run("C_GetSlotInfo", true, [&] {
        const Slot* s = FindSlot(id);
        Check(s, CKR_SLOT_ID_INVALID);
        Check(info, CKR_ARGUMENTS_BAD);
        *info = {};
        info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (s->token ? CKF_TOKEN_PRESENT : 0);
    });
    return Log("C_GetSlotInfo slot=" + Dec(id) + " flags=" + (info ? Hex(info->flags) : "NULL"),
               rv);
}

CK_RV GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
    CK_RV rv = Run("C_GetTokenInfo", true, [&] {
        CheckToken(id);
        Check(info, CKR_ARGUMENTS_BAD);
        *info = {};
        info->flags =
            CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED | g.tokenFlags;
    });
    return Log("C_GetTokenInfo slot=" + Dec(id) + " flags=" + (info ? Hex(info->flags) : "NULL"),
               rv);
}

CK_RV CloseSession(CK_SESSION_HANDLE h) {
    CK_RV rv = Run("C_CloseSession", true, [&] {
        CK_SLOT_ID slot = SessionOf(h).slot;
        g.sessions.erase(h);
        bool others = std::any_of(g.sessions.begin(), g.sessions.end(),
                                  [&](const auto& o) { return o.second.slot == slot; });
        if (!others) {
            FindSlot(slot)->loggedIn = false;  // closing a token's last session logs it out
        }
    });
    return Log("C_CloseSession session=" + Dec(h), rv);
}

CK_RV Login(CK_SESSION_HANDLE h, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG len) {
    CK_RV rv = Run("C_Login", true, [&] {
        Slot& slot = *FindSlot(SessionOf(h).slot);
        Check(user == CKU_USER, CKR_USER_TYPE_INVALID);
        Check(!slot.loggedIn, CKR_USER_ALREADY_LOGGED_IN);
        Check(pin || !len, CKR_ARGUMENTS_BAD);
        Bytes given = pin ? Bytes(reinterpret_cast<const char*>(pin), len) : Bytes();
        slot.loggedIn = g.hasPin && given == g.pin;
        Check(slot.loggedIn, CKR_PIN_INCORRECT);
    });
    return Log("C_Login session=" + Dec(h) + " user=" + Dec(user) +
                   " pin=" + (pin ? Quote(pin, len) : "NULL") + " len=" + Dec(len),
               rv);
}

CK_RV Logout(CK_SESSION_HANDLE h) {
    CK_RV rv = Run("C_Logout", true, [&] {
        Slot& slot = *FindSlot(SessionOf(h).slot);
        Check(std::exchange(slot.loggedIn, false), CKR_USER_NOT_LOGGED_IN);
    });
    return Log("C_Logout session=" + Dec(h), rv);
}

bool Matches(const Object& o, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
    for (CK_ULONG i = 0; i < n && !o.stray; ++i) {
        auto it = o.attrs.find(t[i].type);
        if (it == o.attrs.end() || it->second.size() != t[i].ulValueLen ||
            (t[i].ulValueLen &&
             (!t[i].pValue || std::memcmp(it->second.data(), t[i].pValue, t[i].ulValueLen)))) {
            return false;
        }
    }
    return true;
}

CK_RV FindObjectsInit(CK_SESSION_HANDLE h, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
    CK_RV rv = Run("C_FindObjectsInit", true, [&] {
        Session& s = SessionOf(h);
        Check(!s.searching, CKR_OPERATION_ACTIVE);
        Check(t || !n, CKR_ARGUMENTS_BAD);
        s.found.clear();
        for (size_t i = 0; i < g.objects.size(); ++i) {
            if (g.objects[i].slot == s.slot && Matches(g.objects[i], t, n)) {
                s.found.push_back(kFirstObject + i);
            }
        }
        s.searching = true;
        s.next = 0;
    });
    return Log("C_FindObjectsInit session=" + Dec(h) + " template=" + Template(t, n, true), rv);
}

CK_RV FindObjects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                  CK_ULONG_PTR count) {
    CK_RV rv = Run("C_FindObjects", true, [&] {
        Session& s = SessionOf(h);
        Check(s.searching, CKR_OPERATION_NOT_INITIALIZED);
        Check(objects && count, CKR_ARGUMENTS_BAD);
        CK_ULONG n = 0;
        for (; n < max && n < g.page && s.next < s.found.size(); ++n) {
            objects[n] = s.found[s.next++];
        }
        *count = g.findOverflow ? max + 5 : n;
    });
    return Log("C_FindObjects session=" + Dec(h) + " max=" + Dec(max) + " count=" + Out(count), rv);
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE h) {
    CK_RV rv = Run("C_FindObjectsFinal", true, [&] {
        Check(std::exchange(SessionOf(h).searching, false), CKR_OPERATION_NOT_INITIALIZED);
    });
    return Log("C_FindObjectsFinal session=" + Dec(h), rv);
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE obj, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
    CK_RV rv = Run("C_GetAttributeValue", true, [&] {
        Session& s = SessionOf(h);
        CK_ULONG index = obj - kFirstObject;  // wraps round below the first handle
        Check(obj >= kFirstObject && index < g.objects.size() && g.objects[index].slot == s.slot,
              CKR_OBJECT_HANDLE_INVALID);
        Check(t || !n, CKR_ARGUMENTS_BAD);
        const Object& o = g.objects[index];
        CK_RV result = CKR_OK;
        for (CK_ULONG i = 0; i < n; ++i) {
            CK_ATTRIBUTE& a = t[i];
            auto it = o.attrs.find(a.type);
            // A hostile `unavailable` attribute gets no value and no length, yet CKR_OK.
            bool hostile = std::count(o.unavailable.begin(), o.unavailable.end(), a.type) > 0;
            CK_RV entry = it == o.attrs.end() ? CKR_ATTRIBUTE_TYPE_INVALID
                          : !hostile && a.pValue && a.ulValueLen < it->second.size()
                              ? CKR_BUFFER_TOO_SMALL
                              : CKR_OK;
            if (entry == CKR_OK && !hostile && a.pValue) {
                std::memcpy(a.pValue, it->second.data(), it->second.size());
            }
            auto length = o.lengths.find(a.type);
            a.ulValueLen = entry != CKR_OK || hostile               ? CK_UNAVAILABLE_INFORMATION
                           : !a.pValue && length != o.lengths.end() ? length->second
                                                                    : it->second.size();
            result = result == CKR_OK ? entry : result;
        }
        Check(result == CKR_OK, result);  // the first failed entry's error
    });
    auto isSet = [](const CK_ATTRIBUTE& a) { return a.pValue != nullptr; };
    CK_ULONG set = t ? std::count_if(t, t + n, isSet) : 0;
    return Log("C_GetAttributeValue session=" + Dec(h) + " object=" + Dec(obj) +
                   " types=" + Template(t, n, false) + " values=" +
                   (set == 0   ? "NULL"
                    : set == n ? "SET"
                               : "MIXED"),
               rv);
}

CK_RV Unsupported(const char* fn) {
    return Log(fn, Run(fn, true, [] { Check(false, CKR_FUNCTION_NOT_SUPPORTED); }));
}

CK_FUNCTION_LIST MakeTable() {
    CK_FUNCTION_LIST f{};
    f.version = {2, 40};
    f.C_Initialize = Initialize;
    f.C_Finalize = Finalize;
    f.C_GetFunctionList = C_GetFunctionList;
    f.C_GetSlotList = GetSlotList;
    f.C_GetSlotInfo = GetSlotInfo;
    f.C_GetTokenInfo = GetTokenInfo;
    f.C_OpenSession = OpenSession;
    f.C_CloseSession = CloseSession;
    f.C_Login = Login;
    f.C_Logout = Logout;
    f.C_GetAttributeValue = GetAttributeValue;
    f.C_FindObjectsInit = FindObjectsInit;
    f.C_FindObjects = FindObjects;
    f.C_FindObjectsFinal = FindObjectsFinal;
    // The rest only log their name; a generic lambda converts to every one of their signatures.
#define STUB(name) f.name = [](auto...) -> CK_RV { return Unsupported(#name); }
    STUB(C_GetInfo), STUB(C_GetMechanismList);
    STUB(C_GetMechanismInfo), STUB(C_InitToken), STUB(C_InitPIN), STUB(C_SetPIN);
    STUB(C_CloseAllSessions), STUB(C_GetSessionInfo), STUB(C_GetOperationState);
    STUB(C_SetOperationState), STUB(C_CreateObject), STUB(C_CopyObject), STUB(C_DestroyObject);
    STUB(C_GetObjectSize), STUB(C_SetAttributeValue), STUB(C_EncryptInit), STUB(C_Encrypt);
    STUB(C_EncryptUpdate), STUB(C_EncryptFinal), STUB(C_DecryptInit), STUB(C_Decrypt);
    STUB(C_DecryptUpdate), STUB(C_DecryptFinal), STUB(C_DigestInit), STUB(C_Digest);
    STUB(C_DigestUpdate), STUB(C_DigestKey), STUB(C_DigestFinal), STUB(C_SignInit), STUB(C_Sign);
    STUB(C_SignUpdate), STUB(C_SignFinal), STUB(C_SignRecoverInit), STUB(C_SignRecover);
    STUB(C_VerifyInit), STUB(C_Verify), STUB(C_VerifyUpdate), STUB(C_VerifyFinal);
    STUB(C_VerifyRecoverInit), STUB(C_VerifyRecover), STUB(C_DigestEncryptUpdate);
    STUB(C_DecryptDigestUpdate), STUB(C_SignEncryptUpdate), STUB(C_DecryptVerifyUpdate);
    STUB(C_GenerateKey), STUB(C_GenerateKeyPair), STUB(C_WrapKey), STUB(C_UnwrapKey);
    STUB(C_DeriveKey), STUB(C_SeedRandom), STUB(C_GenerateRandom), STUB(C_GetFunctionStatus);
    STUB(C_CancelFunction), STUB(C_WaitForSlotEvent);
#undef STUB
    return f;
}

}  // namespace

extern "C" TM_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    static CK_FUNCTION_LIST table = MakeTable();
    CK_RV rv = Run("C_GetFunctionList", false, [&] {
        Check(list, CKR_ARGUMENTS_BAD);
        *list = g.nullTable ? nullptr : &table;
    });
    return Log("C_GetFunctionList", rv);
}
