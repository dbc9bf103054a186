#pragma once

#include "platform/HttpSession.h"

#include <QHash>

// Counts the HTTP answers its requests got, in all and by path. The caller of a request resumes
// right after the count goes up, in the same call: once the count is up, the caller has seen the
// answer, and whatever it does without waiting again has been done.
class CountingHttpSession final : public HttpSession
{
public:
    using HttpSession::HttpSession;

    int answered = 0;
    QHash<QString, int> answeredOn;

    QCoro::Task<Http::Response> send(Http::Request request, CancellationToken token = {}) override
    {
        const QString path = request.url.path();
        Http::Response response = co_await HttpSession::send(std::move(request), std::move(token));
        ++answered;
        ++answeredOn[path];
        co_return response;
    }
};
