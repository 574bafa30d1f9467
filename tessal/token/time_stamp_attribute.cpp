#include "token/time_stamp_attribute.h"

#include <openssl/err.h>
#include <openssl/objects.h>

#include "tessal/time_stamp.h"

bool AddTimeStampToken(STACK_OF(X509_ATTRIBUTE)** unsignedAttributes, const unsigned char* signature,
                       int signatureLength, const std::string& alg) {
    ByteArray value(signature, static_cast<unsigned long>(signatureLength > 0 ? signatureLength : 0));
    ByteArray token;
    if (TimeStamp::GetTimeStamp(value, token, alg) != 0) return false;
    return AddTimeStampTokenAttribute(unsignedAttributes, token);
}

bool AddTimeStampTokenAttribute(STACK_OF(X509_ATTRIBUTE)** unsignedAttributes, const ByteArray& token) {
    bool added = X509at_add1_attr_by_NID(unsignedAttributes, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE,
                                         token.data(), token.length()) != nullptr;
    ERR_clear_error();
    return added;
}
