// A software key of this process for the SKF blob target and its seed maker: a store under
// $TMPDIR (named to the library by SOFTKEY_STORE, removed at exit), one key plugged in with its
// user logged in, and two containers whose signing keys are fixed (and serve as their encryption
// keys as well), so that inputs made for them stay valid from run to run.
#pragma once

#include "core/softcrypto.h"
#include "skf/skf.h"

namespace fuzz_skf {

struct ScratchKey {
    DEVHANDLE dev = nullptr;
    HAPPLICATION app = nullptr;
    HCONTAINER sm2 = nullptr;  // signing and encryption key FixedSigningKey(KeyAlg::Sm2)
    HCONTAINER rsa = nullptr;  // signing and encryption key FixedSigningKey(KeyAlg::Rsa), 1024 bits
};

// Made at the first call; aborts when the key cannot be made.
const ScratchKey& OpenScratchKey();

// The private signing key of the container for `alg`.
softkey::Pkey FixedSigningKey(softkey::KeyAlg alg);

// What the first input byte chooses: the entry point the rest of the input goes to.
enum EntryPoint : uint8_t {
    kEccVerify,        // ECCPUBLICKEYBLOB, ECCSIGNATUREBLOB, then the digest
    kExtEccVerify,     // the same through SKF_ExtECCVerify
    kExtEccEncrypt,    // ECCPUBLICKEYBLOB, then the plain text
    kEccDecrypt,       // sign-key flag byte, then an ECCCIPHERBLOB with its cipher bytes
    kImportEccKeyPair, // an ENVELOPEDKEYBLOB with its 16 cipher bytes
    kImportRsaKeyPair, // wrapped key length (2 bytes, little-endian), wrapped key, encrypted blob
    kRsaVerify,        // RSAPUBLICKEYBLOB, signature length (2 bytes), signature, then the data
    kRsaDecrypt,       // sign-key flag byte, then the cipher text
    kDigestInit,       // ECCPUBLICKEYBLOB, then the signer's ID
    kExtRsaPubKeyOperation,  // RSAPUBLICKEYBLOB, then the input
    kKitRsaBlobKey,    // RSAPUBLICKEYBLOB as the kit takes it from a vendor library
    kExtEccDecrypt,    // ECCPRIVATEKEYBLOB, then an ECCCIPHERBLOB with its cipher bytes
    kExtEccSign,       // ECCPRIVATEKEYBLOB, then the digest
    kExtRsaPriKeyOperation,  // RSAPRIVATEKEYBLOB, then the input
    kEccExportSessionKey,    // algorithm identifier (4 bytes), then ECCPUBLICKEYBLOB
    kRsaExportSessionKey,    // algorithm identifier, then RSAPUBLICKEYBLOB
    kImportSessionKey,       // container byte (even: SM2, odd: RSA), algorithm identifier, wrapped key
    kEntryPoints
};

}  // namespace fuzz_skf
