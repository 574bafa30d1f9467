// The exchange with an OCSP responder, non-blocking under one deadline so that a responder
// that accepts and never answers cannot hold the caller's thread.
#include "cloud/ocsp_exchange.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>

#include "api/console.h"
#include "api/log.h"
#include "cloud/call_deadline.h"
#include "platform/socket_wait.h"

namespace cloud {
namespace {

using Clock = std::chrono::steady_clock;

// Waits until the BIO chain can go on in the direction it asked for; false when the deadline
// passed.
bool WaitForSocket(BIO* chain, int fd, Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    return platform::WaitForSocket(fd, BIO_should_read(chain), static_cast<int>(left));
}

enum class Step { kDone, kFailed, kTimedOut };

Step Connect(BIO* chain, BIO* connection, int& fd, Clock::time_point deadline) {
    while (BIO_do_connect(chain) <= 0) {
        if (!BIO_should_retry(chain)) {
            ConsoleWrite("Error connecting BIO\n");
            return Step::kFailed;
        }
        if (BIO_get_fd(connection, &fd) < 0 || fd < 0) {
            ConsoleWrite("Can't get connection fd\n");
            return Step::kFailed;
        }
        if (!WaitForSocket(chain, fd, deadline)) return Step::kTimedOut;
    }
    if (BIO_get_fd(connection, &fd) < 0 || fd < 0) {
        ConsoleWrite("Can't get connection fd\n");
        return Step::kFailed;
    }
    return Step::kDone;
}

Step SendAndReceive(BIO* chain, int fd, const OcspResponder& responder, OCSP_REQUEST* request,
                    Clock::time_point deadline, OCSP_RESPONSE** response) {
    OSSL_HTTP_REQ_CTX* exchange = OCSP_sendreq_new(chain, responder.path.c_str(), nullptr, -1);
    Step step = Step::kFailed;
    if (exchange && OSSL_HTTP_REQ_CTX_add1_header(exchange, "Host", responder.host.c_str()) &&
        OSSL_HTTP_REQ_CTX_set1_req(exchange, "application/ocsp-request", ASN1_ITEM_rptr(OCSP_REQUEST),
                                   reinterpret_cast<ASN1_VALUE*>(request))) {
        for (;;) {
            int rc = OCSP_sendreq_nbio(response, exchange);
            if (rc != -1) {
                step = rc == 1 && *response ? Step::kDone : Step::kFailed;
                break;
            }
            if (!WaitForSocket(chain, fd, deadline)) {
                step = Step::kTimedOut;
                break;
            }
        }
    }
    OSSL_HTTP_REQ_CTX_free(exchange);
    return step;
}

}  // namespace

OCSP_RESPONSE* ExchangeWithResponder(const OcspResponder& responder, OCSP_REQUEST* request, int limitSeconds) {
    const Clock::time_point ownEnd = Clock::now() + std::chrono::seconds(limitSeconds);
    const bool callLimitFirst = CallDeadlineEnd() < ownEnd;  // the calling export's limit comes first
    const Clock::time_point deadline = callLimitFirst ? CallDeadlineEnd() : ownEnd;
    BIO* connection = BIO_new_connect(responder.host.c_str());
    if (!connection || BIO_set_conn_port(connection, responder.port.c_str()) <= 0) {
        BIO_free_all(connection);
        ConsoleWrite("Error creating connect BIO\n");
        TLOG_ERROR("process_responder error");
        return nullptr;
    }
    BIO_set_nbio(connection, 1);
    BIO* chain = connection;
    SSL_CTX* tls = nullptr;
    if (responder.tls) {
        tls = SSL_CTX_new(TLS_client_method());
        BIO* secure = tls ? BIO_new_ssl(tls, 1) : nullptr;
        if (!secure) {
            BIO_free_all(connection);
            SSL_CTX_free(tls);
            ConsoleWrite("Error creating SSL context.\n");
            TLOG_ERROR("process_responder error");
            return nullptr;
        }
        SSL_CTX_set_mode(tls, SSL_MODE_AUTO_RETRY);
        SSL_CTX_set_verify(tls, SSL_VERIFY_NONE,
                           nullptr);  // the answer's own signature is what is trusted
        chain = BIO_push(secure, connection);
    }

    OCSP_RESPONSE* response = nullptr;
    int fd = -1;
    Step step = Connect(chain, connection, fd, deadline);
    if (step == Step::kDone) step = SendAndReceive(chain, fd, responder, request, deadline, &response);
    if (step == Step::kTimedOut && callLimitFirst)
        TLOG_ERROR("OCSP exchange with " << responder.host << ":" << responder.port
                                         << " stopped at the time limit of the call");
    else if (step == Step::kTimedOut)
        TLOG_ERROR("OCSP exchange with " << responder.host << ":" << responder.port
                                         << " timed out after " << limitSeconds << " s");
    if (step != Step::kDone) {
        OCSP_RESPONSE_free(response);
        response = nullptr;
        ConsoleWrite("Error querying OCSP responder\n");
        TLOG_ERROR("process_responder error");
    }
    BIO_free_all(chain);
    SSL_CTX_free(tls);
    ERR_clear_error();
    return response;
}

}  // namespace cloud
