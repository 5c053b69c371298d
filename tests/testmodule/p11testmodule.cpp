// A scriptable PKCS#11 module for the end-to-end tests: what it holds, which calls fail and how
// it misbehaves come from a scenario file, and every call is logged (see SCENARIOS.md).
#define CRYPTOKI_EXPORTS  // under _WIN32 the header then marks C_GetFunctionList dllexport
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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
    Types unavailable;
    bool stray = false;
};

struct Slot {
    CK_SLOT_ID id;
    bool token;
    bool loggedIn;
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
    bool findOverflow = false, slotGrow = false, nullTable = false;
    bool hasPin = false;
    Bytes pin;
    std::vector<Slot> slots;
    std::vector<Object> objects;  // object handle = kFirstObject + index
    std::map<std::pair<std::string, CK_ULONG>, CK_RV> fails;
    std::map<std::string, CK_ULONG> calls;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
} g;

const std::pair<const char*, CK_ATTRIBUTE_TYPE> kAttrs[] = {
    {"CLASS", CKA_CLASS},
    {"TOKEN", CKA_TOKEN},
    {"LABEL", CKA_LABEL},
    {"ID", CKA_ID},
    {"VALUE", CKA_VALUE},
    {"SUBJECT", CKA_SUBJECT},
    {"CERTIFICATE_TYPE", CKA_CERTIFICATE_TYPE}};

// Functions a `fail` line may name; a misspelt one is a scenario error, not a silent no-op.
const char* const kFunctions[] = {"C_GetFunctionList",  "C_Initialize",       "C_Finalize",
                                  "C_GetSlotList",      "C_GetSlotInfo",      "C_GetTokenInfo",
                                  "C_OpenSession",      "C_CloseSession",     "C_Login",
                                  "C_Logout",           "C_FindObjectsInit",  "C_FindObjects",
                                  "C_FindObjectsFinal", "C_GetAttributeValue"};

const char kHex[] = "0123456789abcdef";

// ---- call log ----

// Opened and closed per line so that the log survives a crash of the host.
void Log(const std::string& text) {
    const char* path = std::getenv("P11TEST_LOG");
    if (!path || !*path) {
        return;
    }
    if (std::FILE* f = std::fopen(path, "ab")) {
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

void Log(const std::string& call, CK_RV rv) {
    Log(call + " -> " + Hex(rv));
}

std::string Out(const CK_ULONG* p) {
    return p ? Dec(*p) : "NULL";
}

std::string HexBytes(const unsigned char* p, CK_ULONG n) {
    std::string s;
    for (CK_ULONG i = 0; i < n; ++i) {
        s += kHex[p[i] >> 4];
        s += kHex[p[i] & 15];
    }
    return s;
}

// The escapes of the scenario syntax, in both directions; the final NUL of kUnescaped is \0.
const char kEscapes[] = "nrt\\\"0";
const char kUnescaped[] = "\n\r\t\\\"";

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

std::string AttrName(CK_ATTRIBUTE_TYPE type) {
    for (const auto& a : kAttrs) {
        if (a.second == type) {
            return a.first;
        }
    }
    return Hex(type);
}

// `[NAME=value,...]` for a search template, `[NAME,...]` for an attribute query.
std::string Template(CK_ATTRIBUTE_PTR t, CK_ULONG n, bool values) {
    if (!t && n) {
        return "NULL";
    }
    std::string s = "[";
    for (CK_ULONG i = 0; i < n; ++i) {
        s += (i ? "," : "") + AttrName(t[i].type);
        const auto* p = static_cast<const unsigned char*>(t[i].pValue);
        CK_ULONG native = 0;
        if (!values) {
            continue;
        } else if (!p && t[i].ulValueLen) {
            s += "=NULL";
        } else if (t[i].ulValueLen == sizeof native) {
            std::memcpy(&native, p, sizeof native);
            s += "=" + Dec(native);
        } else if (t[i].ulValueLen == 1) {
            s += "=" + Dec(p[0]);
        } else {
            s += "=x:" + HexBytes(p, t[i].ulValueLen);
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

bool Unhex(const std::string& hex, Bytes& out) {
    if (hex.size() % 2 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return true;
}

// `"text"` with escapes, `x:HEX` or `@path`, each optionally followed by `*N`.
bool ParseBytes(std::string s, Bytes& out) {
    std::string repeat;
    out.clear();
    if (!s.empty() && s[0] == '"') {
        size_t i = 1;
        for (; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] != '\\') {
                out += s[i];
                continue;
            }
            char c = ++i < s.size() ? s[i] : '\0';
            const char* esc = c ? std::strchr(kEscapes, c) : nullptr;
            std::string hex = s.substr(i + 1, 2);
            if (esc) {
                out += kUnescaped[esc - kEscapes];
            } else if (c != 'x' || hex.size() != 2 || !Unhex(hex, out)) {
                return false;
            } else {
                i += 2;
            }
        }
        if (i == s.size()) {
            return false;
        }
        repeat = s.substr(i + 1);
    } else {
        size_t star = s.rfind('*');
        CK_ULONG n;
        if (star != std::string::npos && ParseNum(s.substr(star + 1), n)) {
            repeat = s.substr(star);
            s.erase(star);
        }
        if (s.compare(0, 2, "x:") == 0) {
            if (!Unhex(s.substr(2), out)) {
                return false;
            }
        } else if (s.size() > 1 && s[0] == '@') {
            std::ifstream in(s.substr(1), std::ios::binary);
            if (!in) {
                return false;
            }
            out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } else {
            return false;
        }
    }
    CK_ULONG times = 1;
    if (!repeat.empty() && (repeat[0] != '*' || !ParseNum(repeat.substr(1), times))) {
        return false;
    }
    Bytes once = out;
    out.clear();
    for (CK_ULONG i = 0; i < times; ++i) {
        out += once;
    }
    return true;
}

// Splits at blanks outside double quotes; a backslash inside quotes keeps the next character.
bool SplitWords(const std::string& line, std::vector<std::string>& words) {
    std::string w;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
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
    if (!w.empty()) {
        words.push_back(w);
    }
    return !quoted;
}

bool ParseAttr(const std::string& name, CK_ATTRIBUTE_TYPE& type) {
    for (const auto& a : kAttrs) {
        if (name == a.first) {
            type = a.second;
            return true;
        }
    }
    return false;
}

bool ParseAttrList(const std::string& list, Types& out) {
    std::istringstream in(list);
    CK_ATTRIBUTE_TYPE type;
    for (std::string name; std::getline(in, name, ',');) {
        if (!ParseAttr(name, type)) {
            return false;
        }
        out.push_back(type);
    }
    return !out.empty() && list.back() != ',';
}

Slot* FindSlot(CK_SLOT_ID id) {
    for (Slot& s : g.slots) {
        if (s.id == id) {
            return &s;
        }
    }
    return nullptr;
}

Bytes Native(CK_ULONG v) {
    return Bytes(reinterpret_cast<const char*>(&v), sizeof v);
}

bool ParseObject(const std::vector<std::string>& words) {
    Object o;
    o.attrs = {{CKA_CLASS, Native(CKO_CERTIFICATE)},
               {CKA_TOKEN, Bytes(1, '\1')},
               {CKA_LABEL, ""},
               {CKA_ID, ""},
               {CKA_VALUE, ""},
               {CKA_SUBJECT, ""},
               {CKA_CERTIFICATE_TYPE, Native(CKC_X_509)}};
    std::map<CK_ATTRIBUTE_TYPE, Bytes> raw;
    Types missing;
    CK_ULONG count = 1, n = 0;
    bool haveSlot = false;
    for (size_t i = 1; i < words.size(); ++i) {
        size_t eq = words[i].find('=');
        if (eq == std::string::npos) {
            return false;
        }
        std::string key = words[i].substr(0, eq), val = words[i].substr(eq + 1);
        CK_ATTRIBUTE_TYPE type;
        bool ok = true;
        if (key == "slot") {
            const Slot* s = ParseNum(val, o.slot) ? FindSlot(o.slot) : nullptr;
            ok = haveSlot = s && s->token;  // the slot's line must come first
        } else if (key == "class" || key == "certtype") {
            ok = ParseNum(val, n);
            o.attrs[key == "class" ? CKA_CLASS : CKA_CERTIFICATE_TYPE] = Native(n);
        } else if (key == "token") {
            ok = val == "0" || val == "1";
            o.attrs[CKA_TOKEN] = Bytes(1, val == "1" ? '\1' : '\0');
        } else if (key == "stray") {
            ok = val == "0" || val == "1";
            o.stray = val == "1";
        } else if (key == "label" || key == "id" || key == "value" || key == "subject") {
            type = key == "label"   ? CKA_LABEL
                   : key == "id"    ? CKA_ID
                   : key == "value" ? CKA_VALUE
                                    : CKA_SUBJECT;
            ok = ParseBytes(val, o.attrs[type]);
        } else if (key.compare(0, 4, "raw.") == 0 && ParseAttr(key.substr(4), type)) {
            ok = ParseBytes(val, raw[type]);
        } else if (key == "missing" || key == "unavailable") {
            ok = ParseAttrList(val, key == "missing" ? missing : o.unavailable);
        } else {
            ok = key == "count" && ParseNum(val, count);
        }
        if (!ok) {
            return false;
        }
    }
    for (const auto& r : raw) {
        o.attrs[r.first] = r.second;
    }
    for (CK_ATTRIBUTE_TYPE type : missing) {
        o.attrs.erase(type);
    }
    for (CK_ULONG i = 0; haveSlot && i < count; ++i) {
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
    return haveSlot;
}

bool ParseLine(const std::vector<std::string>& w) {
    CK_ULONG n = 0, rv = 0;
    if (w[0] == "slot" && (w.size() == 2 || (w.size() == 3 && w[2] == "empty"))) {
        bool ok = ParseNum(w[1], n) && !FindSlot(n);
        if (ok) {
            g.slots.push_back({n, w.size() == 2, false});
        }
        return ok;
    }
    if (w[0] == "pin" && w.size() == 2) {
        return g.hasPin = ParseBytes(w[1], g.pin);
    }
    if (w[0] == "object") {
        return ParseObject(w);
    }
    if (w[0] == "fail" && w.size() == 4) {
        bool known =
            std::find(std::begin(kFunctions), std::end(kFunctions), w[1]) != std::end(kFunctions);
        bool ok = known && ParseNum(w[2], n) && n > 0 && ParseNum(w[3], rv, 16);
        if (ok) {
            g.fails[{w[1], n}] = rv;
        }
        return ok;
    }
    bool* flag = w.size() != 2 || w[0] != "hostile" ? nullptr
                 : w[1] == "findoverflow"           ? &g.findOverflow
                 : w[1] == "slotgrow"               ? &g.slotGrow
                 : w[1] == "nulltable"              ? &g.nullTable
                                                    : nullptr;
    return flag && (*flag = true);
}

void ScenarioError(const std::string& line) {
    Log("scenario error: " + line);
    g.broken = true;
}

// Read on the first call of any function, so that even C_GetFunctionList can be scripted.
void Load() {
    if (g.loaded) {
        return;
    }
    g.loaded = true;
    const char* path = std::getenv("P11TEST_SCENARIO");
    if (!path || !*path) {
        return;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ScenarioError(std::string("cannot read ") + path);
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t first = line.find_first_not_of(" \t");
        std::vector<std::string> words;
        if (first != std::string::npos && line[first] != '#' &&
            (!SplitWords(line, words) || !ParseLine(words))) {
            ScenarioError(line);
        }
    }
}

// ---- the functions ----

// Counts the call, applies an injected result, then the initialisation rule, then the body.
template <typename F>
CK_RV Run(const char* fn, bool needsInit, F body) {
    Load();
    auto it = g.fails.find({fn, ++g.calls[fn]});
    if (it != g.fails.end()) {
        return it->second;
    }
    return needsInit && !g.initialised ? CKR_CRYPTOKI_NOT_INITIALIZED : body();
}

template <typename F>
CK_RV RunSession(const char* fn, CK_SESSION_HANDLE h, F body) {
    return Run(fn, true, [&]() -> CK_RV {
        auto it = g.sessions.find(h);
        return it == g.sessions.end() ? CKR_SESSION_HANDLE_INVALID : body(it->second);
    });
}

CK_RV TokenSlot(CK_SLOT_ID id) {
    const Slot* s = FindSlot(id);
    return !s ? CKR_SLOT_ID_INVALID : !s->token ? CKR_TOKEN_NOT_PRESENT : CKR_OK;
}

void Pad(unsigned char* dst, size_t size, const std::string& text) {
    std::memset(dst, ' ', size);
    std::memcpy(dst, text.data(), std::min(text.size(), size));
}

CK_RV Initialize(CK_VOID_PTR args) {
    CK_RV rv = Run("C_Initialize", false, [&]() -> CK_RV {
        if (g.broken || g.initialised) {
            return g.broken ? CKR_GENERAL_ERROR : CKR_CRYPTOKI_ALREADY_INITIALIZED;
        }
        if (args && static_cast<CK_C_INITIALIZE_ARGS*>(args)->pReserved) {
            return CKR_ARGUMENTS_BAD;
        }
        g.initialised = true;
        return CKR_OK;
    });
    Log(std::string("C_Initialize args=") + (args ? "SET" : "NULL"), rv);
    return rv;
}

CK_RV Finalize(CK_VOID_PTR reserved) {
    CK_RV rv = Run("C_Finalize", true, [&]() -> CK_RV {
        if (reserved) {
            return CKR_ARGUMENTS_BAD;
        }
        g.sessions.clear();
        for (Slot& s : g.slots) {
            s.loggedIn = false;
        }
        g.initialised = false;
        return CKR_OK;
    });
    Log(std::string("C_Finalize args=") + (reserved ? "SET" : "NULL"), rv);
    return rv;
}

CK_RV GetSlotList(CK_BBOOL present, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    std::string written;
    CK_RV rv = Run("C_GetSlotList", true, [&]() -> CK_RV {
        if (!count) {
            return CKR_ARGUMENTS_BAD;
        }
        std::vector<CK_SLOT_ID> ids;
        for (const Slot& s : g.slots) {
            if (s.token || !present) {
                ids.push_back(s.id);
            }
        }
        bool grow = list && g.slotGrow && g.calls["C_GetSlotList"] == 2;
        if (!list || (*count < ids.size() && !grow)) {
            bool small = list && *count < ids.size();
            *count = ids.size();
            return small ? CKR_BUFFER_TOO_SMALL : CKR_OK;
        }
        for (CK_ULONG i = 0; i < ids.size() && i < *count; ++i) {
            list[i] = ids[i];
            written += (i ? "," : "") + Dec(ids[i]);
        }
        *count = grow ? *count + 1 : ids.size();
        return CKR_OK;
    });
    Log("C_GetSlotList tokenPresent=" + Dec(present) +
            " list=" + (list ? "[" + written + "]" : "NULL") + " count=" + Out(count),
        rv);
    return rv;
}

// Slot and token information exist for general PKCS#11 tools that list slots.
CK_RV GetSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) {
    CK_RV rv = Run("C_GetSlotInfo", true, [&]() -> CK_RV {
        const Slot* s = FindSlot(id);
        if (!s || !info) {
            return s ? CKR_ARGUMENTS_BAD : CKR_SLOT_ID_INVALID;
        }
        std::memset(info, 0, sizeof *info);
        Pad(info->slotDescription, sizeof info->slotDescription, "test slot " + Dec(id));
        Pad(info->manufacturerID, sizeof info->manufacturerID, "certexport tests");
        info->flags = CKF_REMOVABLE_DEVICE | (s->token ? CKF_TOKEN_PRESENT : 0);
        return CKR_OK;
    });
    Log("C_GetSlotInfo slot=" + Dec(id), rv);
    return rv;
}

CK_RV GetTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
    CK_RV rv = Run("C_GetTokenInfo", true, [&]() -> CK_RV {
        if (CK_RV r = TokenSlot(id); r != CKR_OK || !info) {
            return r != CKR_OK ? r : CKR_ARGUMENTS_BAD;
        }
        std::memset(info, 0, sizeof *info);
        Pad(info->label, sizeof info->label, "test token " + Dec(id));
        Pad(info->manufacturerID, sizeof info->manufacturerID, "certexport tests");
        Pad(info->model, sizeof info->model, "p11testmodule");
        Pad(info->serialNumber, sizeof info->serialNumber, Dec(id));
        Pad(info->utcTime, sizeof info->utcTime, "");
        info->flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED;
        info->ulMaxPinLen = 255;
        return CKR_OK;
    });
    Log("C_GetTokenInfo slot=" + Dec(id), rv);
    return rv;
}

CK_RV OpenSession(CK_SLOT_ID id, CK_FLAGS flags, CK_VOID_PTR app, CK_NOTIFY notify,
                  CK_SESSION_HANDLE_PTR session) {
    CK_RV rv = Run("C_OpenSession", true, [&]() -> CK_RV {
        if (CK_RV r = TokenSlot(id); r != CKR_OK) {
            return r;
        }
        if (!(flags & CKF_SERIAL_SESSION) || !session) {
            return session ? CKR_SESSION_PARALLEL_NOT_SUPPORTED : CKR_ARGUMENTS_BAD;
        }
        *session = g.nextSession++;
        g.sessions[*session].slot = id;
        return CKR_OK;
    });
    Log("C_OpenSession slot=" + Dec(id) + " flags=" + Hex(flags) +
            " app=" + (app ? "SET" : "NULL") + " notify=" + (notify ? "SET" : "NULL") +
            " session=" + Out(session),
        rv);
    return rv;
}

CK_RV CloseSession(CK_SESSION_HANDLE h) {
    CK_RV rv = RunSession("C_CloseSession", h, [&](Session& s) -> CK_RV {
        CK_SLOT_ID slot = s.slot;
        g.sessions.erase(h);
        bool others = std::any_of(g.sessions.begin(), g.sessions.end(),
                                  [&](const auto& o) { return o.second.slot == slot; });
        if (!others) {
            FindSlot(slot)->loggedIn = false;  // closing a token's last session logs it out
        }
        return CKR_OK;
    });
    Log("C_CloseSession session=" + Dec(h), rv);
    return rv;
}

CK_RV Login(CK_SESSION_HANDLE h, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG len) {
    CK_RV rv = RunSession("C_Login", h, [&](Session& s) -> CK_RV {
        Slot& slot = *FindSlot(s.slot);
        if (user != CKU_USER || slot.loggedIn || (!pin && len)) {
            return user != CKU_USER ? CKR_USER_TYPE_INVALID
                   : slot.loggedIn  ? CKR_USER_ALREADY_LOGGED_IN
                                    : CKR_ARGUMENTS_BAD;
        }
        Bytes given = pin ? Bytes(reinterpret_cast<const char*>(pin), len) : Bytes();
        slot.loggedIn = g.hasPin && given == g.pin;
        return slot.loggedIn ? CKR_OK : CKR_PIN_INCORRECT;
    });
    Log("C_Login session=" + Dec(h) + " user=" + Dec(user) +
            " pin=" + (pin ? Quote(pin, len) : "NULL") + " len=" + Dec(len),
        rv);
    return rv;
}

CK_RV Logout(CK_SESSION_HANDLE h) {
    CK_RV rv = RunSession("C_Logout", h, [&](Session& s) -> CK_RV {
        Slot& slot = *FindSlot(s.slot);
        CK_RV result = slot.loggedIn ? CKR_OK : CKR_USER_NOT_LOGGED_IN;
        slot.loggedIn = false;
        return result;
    });
    Log("C_Logout session=" + Dec(h), rv);
    return rv;
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
    CK_RV rv = RunSession("C_FindObjectsInit", h, [&](Session& s) -> CK_RV {
        if (s.searching || (!t && n)) {
            return s.searching ? CKR_OPERATION_ACTIVE : CKR_ARGUMENTS_BAD;
        }
        s.found.clear();
        for (size_t i = 0; i < g.objects.size(); ++i) {
            if (g.objects[i].slot == s.slot && Matches(g.objects[i], t, n)) {
                s.found.push_back(kFirstObject + i);
            }
        }
        s.searching = true;
        s.next = 0;
        return CKR_OK;
    });
    Log("C_FindObjectsInit session=" + Dec(h) + " template=" + Template(t, n, true), rv);
    return rv;
}

CK_RV FindObjects(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                  CK_ULONG_PTR count) {
    CK_RV rv = RunSession("C_FindObjects", h, [&](Session& s) -> CK_RV {
        if (!s.searching || !objects || !count) {
            return s.searching ? CKR_ARGUMENTS_BAD : CKR_OPERATION_NOT_INITIALIZED;
        }
        CK_ULONG n = 0;
        for (; n < max && s.next < s.found.size(); ++n) {
            objects[n] = s.found[s.next++];
        }
        *count = g.findOverflow ? max + 5 : n;
        return CKR_OK;
    });
    Log("C_FindObjects session=" + Dec(h) + " max=" + Dec(max) + " count=" + Out(count), rv);
    return rv;
}

CK_RV FindObjectsFinal(CK_SESSION_HANDLE h) {
    CK_RV rv = RunSession("C_FindObjectsFinal", h, [&](Session& s) -> CK_RV {
        CK_RV result = s.searching ? CKR_OK : CKR_OPERATION_NOT_INITIALIZED;
        s.searching = false;
        return result;
    });
    Log("C_FindObjectsFinal session=" + Dec(h), rv);
    return rv;
}

CK_RV GetAttributeValue(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE obj, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
    CK_ULONG set = 0;
    for (CK_ULONG i = 0; t && i < n; ++i) {
        set += t[i].pValue != nullptr;
    }
    CK_RV rv = RunSession("C_GetAttributeValue", h, [&](Session& s) -> CK_RV {
        if (obj < kFirstObject || obj - kFirstObject >= g.objects.size() ||
            g.objects[obj - kFirstObject].slot != s.slot) {
            return CKR_OBJECT_HANDLE_INVALID;
        }
        if (!t && n) {
            return CKR_ARGUMENTS_BAD;
        }
        const Object& o = g.objects[obj - kFirstObject];
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
            a.ulValueLen =
                entry != CKR_OK || hostile ? CK_UNAVAILABLE_INFORMATION : it->second.size();
            result = result == CKR_OK ? entry : result;
        }
        return result;
    });
    Log("C_GetAttributeValue session=" + Dec(h) + " object=" + Dec(obj) +
            " types=" + Template(t, n, false) + " values=" +
            (set == 0   ? "NULL"
             : set == n ? "SET"
                        : "MIXED"),
        rv);
    return rv;
}

CK_RV Unsupported(const char* fn) {
    CK_RV rv = Run(fn, true, [] { return CKR_FUNCTION_NOT_SUPPORTED; });
    Log(fn, rv);
    return rv;
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
#define TM_STUB(name) f.name = [](auto...) -> CK_RV { return Unsupported(#name); }
    TM_STUB(C_GetInfo), TM_STUB(C_GetMechanismList), TM_STUB(C_GetMechanismInfo);
    TM_STUB(C_InitToken), TM_STUB(C_InitPIN), TM_STUB(C_SetPIN), TM_STUB(C_CloseAllSessions);
    TM_STUB(C_GetSessionInfo), TM_STUB(C_GetOperationState), TM_STUB(C_SetOperationState);
    TM_STUB(C_CreateObject), TM_STUB(C_CopyObject), TM_STUB(C_DestroyObject);
    TM_STUB(C_GetObjectSize), TM_STUB(C_SetAttributeValue), TM_STUB(C_EncryptInit);
    TM_STUB(C_Encrypt), TM_STUB(C_EncryptUpdate), TM_STUB(C_EncryptFinal);
    TM_STUB(C_DecryptInit), TM_STUB(C_Decrypt), TM_STUB(C_DecryptUpdate);
    TM_STUB(C_DecryptFinal), TM_STUB(C_DigestInit), TM_STUB(C_Digest), TM_STUB(C_DigestUpdate);
    TM_STUB(C_DigestKey), TM_STUB(C_DigestFinal), TM_STUB(C_SignInit), TM_STUB(C_Sign);
    TM_STUB(C_SignUpdate), TM_STUB(C_SignFinal), TM_STUB(C_SignRecoverInit);
    TM_STUB(C_SignRecover), TM_STUB(C_VerifyInit), TM_STUB(C_Verify), TM_STUB(C_VerifyUpdate);
    TM_STUB(C_VerifyFinal), TM_STUB(C_VerifyRecoverInit), TM_STUB(C_VerifyRecover);
    TM_STUB(C_DigestEncryptUpdate), TM_STUB(C_DecryptDigestUpdate);
    TM_STUB(C_SignEncryptUpdate), TM_STUB(C_DecryptVerifyUpdate), TM_STUB(C_GenerateKey);
    TM_STUB(C_GenerateKeyPair), TM_STUB(C_WrapKey), TM_STUB(C_UnwrapKey), TM_STUB(C_DeriveKey);
    TM_STUB(C_SeedRandom), TM_STUB(C_GenerateRandom), TM_STUB(C_GetFunctionStatus);
    TM_STUB(C_CancelFunction), TM_STUB(C_WaitForSlotEvent);
#undef TM_STUB
    return f;
}

}  // namespace

extern "C" TM_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    static CK_FUNCTION_LIST table = MakeTable();
    CK_RV rv = Run("C_GetFunctionList", false, [&]() -> CK_RV {
        if (!list) {
            return CKR_ARGUMENTS_BAD;
        }
        *list = g.nullTable ? nullptr : &table;
        return CKR_OK;
    });
    Log("C_GetFunctionList", rv);
    return rv;
}
