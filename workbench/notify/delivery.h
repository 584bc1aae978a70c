// Alerts sent out: an e-mail over SMTP, or a JSON document POSTed to a
// webhook (libcurl). One attempt each, bounded by a time-out, with an
// outcome that says whether to try again: the caller (watch's outbox) keeps
// the message and retries what failed transiently. The message's id is the
// receiver's key against duplicates, for a retry may deliver twice (an
// answer lost after the receiver took the message).
#ifndef UREA_WORKBENCH_NOTIFY_DELIVERY_H
#define UREA_WORKBENCH_NOTIFY_DELIVERY_H

#include <chrono>
#include <string>
#include <vector>

namespace workbench {

struct alert_message {
    std::string id;        // unique and stable for one change of an alert's state ("alert-12-firing-3"):
                           // printable ASCII without spaces; the e-mail's Message-ID <id@urea-reactor>,
                           // the webhook's header Idempotency-Key (the caller puts it in the JSON too)
    std::string subject;   // one line (a line break in it is sent as a space); UTF-8
    std::string text;      // the e-mail's plain-text body, UTF-8
    std::string json;      // the webhook's body, a JSON document serialised by the caller
};

// smtp://[user[:password]@]host[:port] (STARTTLS when the server offers it)
// or smtps://; without a password in the URL, UREA_SMTP_PASSWORD's, if set.
struct mail_target {
    std::string url;
    std::string from;
    std::vector<std::string> to;
};

// http:// or https://; redirects are not followed.
struct webhook_target {
    std::string url;
};

// delivered, or why not (one line, without credentials) and whether trying
// again may help: permanent for what the receiver refused for good (SMTP
// 5xx, HTTP 4xx other than 408 and 429, a redirect, a login refused, a
// target or id that is not usable); transient for the rest (no connection,
// a time-out, SMTP 4xx, HTTP 5xx, 408, 429, a TLS failure).
struct delivery_outcome {
    bool delivered = false;
    bool permanent = false;
    std::string error;
};

// One attempt, within `timeout` (to connect, and in all). Throw nothing
// (std::bad_alloc aside).
delivery_outcome send_mail(const mail_target& target, const alert_message& message,
                           std::chrono::milliseconds timeout);
delivery_outcome post_webhook(const webhook_target& target, const alert_message& message,
                              std::chrono::milliseconds timeout);

// A target as given: a URL of the right scheme with a host, addresses
// (local@domain, at least one recipient) without spaces, brackets or line
// breaks. Throws input_error naming the option (--smtp, --mail-from,
// --mail-to, --webhook) and what is wrong; never the URL's password.
void check_mail_target(const mail_target& target);
void check_webhook_target(const webhook_target& target);

}  // namespace workbench

#endif
