// A time service's answer as the time-stamp client reads it: the token out of a DER
// TimeStampResp, then added to a signer's unsigned attributes and encoded, as signing does.
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tessal/time_stamp.h"
#include "token/time_stamp_attribute.h"

// The client's reading of an answer is private; this class is the client's friend.
class TimeStampTestAccess {
public:
    static CResult Token(ByteArray& response, ByteArray& token) { return TimeStamp::GetTSFromResp(response, token); }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteArray response(data, static_cast<unsigned long>(size));
    ByteArray token;
    if (TimeStampTestAccess::Token(response, token) != 0) return 0;
    // A token that was handed out always becomes the attribute, and the attribute encodes.
    STACK_OF(X509_ATTRIBUTE)* attributes = nullptr;
    if (token.length() <= 0 || !AddTimeStampTokenAttribute(&attributes, token)) abort();
    unsigned char* der = nullptr;
    if (i2d_X509_ATTRIBUTE(sk_X509_ATTRIBUTE_value(attributes, 0), &der) <= 0) abort();
    OPENSSL_free(der);
    sk_X509_ATTRIBUTE_pop_free(attributes, X509_ATTRIBUTE_free);
    return 0;
}
