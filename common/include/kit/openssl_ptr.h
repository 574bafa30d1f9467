// Owning handles for OpenSSL objects: OpenSslPtr<X509, X509_free> frees with the given function.
#pragma once

#include <memory>

namespace kit {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* object) const { Free(object); }
};

template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

}  // namespace kit
