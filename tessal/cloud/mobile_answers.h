// Reading the mobile seal service's answers.
#pragma once

#include <string>

namespace cloud {

// Reads one get-signResult answer: true when it carries the signature. A "p7SignResult" text
// is copied to `p7SignResult` whether or not the phone has signed yet ("null").
bool SignatureArrived(const std::string& answer, std::string& p7SignResult);

// Reads an upload-digest answer: its "result" text into `result`; false when the answer reports
// an error or has no text "result".
bool UploadedDigestResult(const std::string& answer, std::string& result);

}  // namespace cloud
