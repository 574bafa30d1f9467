#!/usr/bin/env bash
# Checks the dynamic symbol table of libtessal.so: the public API is visible, internals are not.
set -euo pipefail
lib="$1"
symbols=$(nm -D --defined-only -C "$lib")
status=0
for wanted in 'ZYKGetLastError' 'ZYKWriteLog(' 'g_USBLastError' 'CResult::GetErrorMsg' \
              'CResult::CResult(ErrorMsg_st*, int)' 'ByteArray::append(' 'QLogger::GetInstance()' \
              'typeinfo for ByteArray' 'CHttpClient::setMobileUrl' 'CHttpClient::getSignResult' \
              'ZYKRequestCert(' 'ZYKImportDoubleCert()' 'ZYKClearUkeyCnt(' 'ZYKEccDeCrypt(' 'ZYKSymEncFile(' \
              'ZYKGenECCKeyPair(' 'ZYKUnblockPINWithAdminPin(' 'tessal_version'; do
  grep -qF "$wanted" <<<"$symbols" || { echo "missing export: $wanted"; status=1; }
done
for hidden in 'Base64Encode' 'SetLastErrorMessage' 'g_ErrorMsgTable' 'platform::' 'ReportFailure' \
              'LoggingActive' 'AsciiCaseCompare' 'CertManager::' 'AesEcbFile' 'kit::'; do
  if grep -qF "$hidden" <<<"$symbols"; then echo "internal symbol exported: $hidden"; status=1; fi
done
[ "$status" -eq 0 ] && echo "exports: public API visible, internals hidden"
exit "$status"
