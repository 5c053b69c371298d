#include "token/object_search.h"

#include <algorithm>

#include "platform/platform.h"
#include "token/module_binding.h"

namespace {

// Far beyond any certificate: a larger length is a broken module, not a buffer to allocate.
constexpr CK_ULONG kMaxAttributeLength = 16 * 1024 * 1024;

// An open search for the token's certificate objects; a search still open when the owner goes is
// closed, so that a failed step never leaves the session busy.
class CertificateSearch {
  public:
    explicit CertificateSearch(CK_SESSION_HANDLE session) : session_(session) {
        CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
        CK_BBOOL onToken = CK_TRUE;
        CK_ATTRIBUTE search[] = {
            {CKA_CLASS, &certificateClass, sizeof certificateClass},
            {CKA_TOKEN, &onToken, sizeof onToken},
        };
        open_ = ModuleBinding::functions()->C_FindObjectsInit(session_, search, 2) == CKR_OK;
    }
    ~CertificateSearch() {
        if (open_) {
            ModuleBinding::functions()->C_FindObjectsFinal(session_);
        }
    }
    CertificateSearch(const CertificateSearch&) = delete;
    CertificateSearch& operator=(const CertificateSearch&) = delete;

    bool isOpen() const { return open_; }

    // Pages through the matches until the module has no more or the limit is reached.
    bool collect(CK_ULONG limit, std::vector<CK_OBJECT_HANDLE>& objects) {
        objects.assign(limit, CK_INVALID_HANDLE);
        CK_ULONG collected = 0;
        while (collected < limit) {
            const CK_ULONG room = limit - collected;
            CK_ULONG count = 0;
            if (ModuleBinding::functions()->C_FindObjects(session_, &objects[collected], room,
                                                          &count) != CKR_OK) {
                return false;
            }
            if (count == 0) {
                break;
            }
            collected += std::min(count, room);
        }
        objects.resize(collected);
        return true;
    }

    CK_RV close() {
        open_ = false;
        return ModuleBinding::functions()->C_FindObjectsFinal(session_);
    }

  private:
    CK_SESSION_HANDLE session_;
    bool open_ = false;
};

SearchOutcome findCertificateObjects(CK_SESSION_HANDLE session,
                                     std::vector<CK_OBJECT_HANDLE>& objects) {
    CertificateSearch search(session);
    if (!search.isOpen()) {
        return kSearchInitFailed;
    }
    if (!search.collect(kMaxCertificateObjects, objects)) {
        return kSearchFindFailed;
    }
    if (search.close() != CKR_OK) {
        return kSearchFinalFailed;
    }
    return objects.empty() ? kSearchFoundNothing : kSearchExamined;
}

bool isUsableLength(CK_ULONG length) {
    return length != CK_UNAVAILABLE_INFORMATION && length <= kMaxAttributeLength;
}

// Two-call read: the lengths first, then zero-filled buffers of exactly those lengths. Prints the
// failure and returns false when either call fails.
bool readAttributes(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, std::size_t index,
                    const std::vector<CK_ATTRIBUTE_TYPE>& types, std::vector<Bytes>& values) {
    std::vector<CK_ATTRIBUTE> wanted(types.size());
    for (std::size_t i = 0; i < types.size(); ++i) {
        wanted[i] = {types[i], nullptr, 0};
    }
    const CK_ULONG count = wanted.size();
    CK_RV rv =
        ModuleBinding::functions()->C_GetAttributeValue(session, object, wanted.data(), count);
    if (rv != CKR_OK || !std::all_of(wanted.begin(), wanted.end(), [](const CK_ATTRIBUTE& a) {
            return isUsableLength(a.ulValueLen);
        })) {
        platform::print("idx=%d find1 error:%lx\n", static_cast<int>(index), rv);
        return false;
    }
    values.assign(types.size(), Bytes());
    for (std::size_t i = 0; i < types.size(); ++i) {
        values[i].assign(wanted[i].ulValueLen, 0);
        wanted[i].pValue = values[i].data();
    }
    rv = ModuleBinding::functions()->C_GetAttributeValue(session, object, wanted.data(), count);
    if (rv != CKR_OK) {
        platform::print("find2 error %lx\n", rv);
        return false;
    }
    // A module may report a shorter value now; it can never have written more than the buffer.
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (wanted[i].ulValueLen < values[i].size()) {
            values[i].resize(wanted[i].ulValueLen);
        }
    }
    return true;
}

}  // namespace

SearchOutcome examineCertificates(CK_SESSION_HANDLE session,
                                  const std::vector<CK_ATTRIBUTE_TYPE>& types,
                                  const ObjectVisitor& visit) {
    std::vector<CK_OBJECT_HANDLE> objects;
    const SearchOutcome outcome = findCertificateObjects(session, objects);
    if (outcome != kSearchExamined) {
        return outcome;
    }
    std::vector<Bytes> values;
    for (std::size_t index = 0; index < objects.size(); ++index) {
        if (!readAttributes(session, objects[index], index, types, values) || visit(values)) {
            break;
        }
    }
    return kSearchExamined;
}
