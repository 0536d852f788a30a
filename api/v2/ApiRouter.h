#pragma once

#include <vector>

#include "api/v2/ApiRoute.h"

// Matches a request to its route and is the one door that decides who may call it: a caller
// below the route's role gets 401 without a login and 403 with one.
class ApiRouter {
  public:
    explicit ApiRouter(std::vector<ApiGroup> groups);

    // Fills request.params from the matched route. 404 for an unknown path, 405 (with Allow)
    // for a known path and another method.
    ApiReply dispatch(ApiRequest& request) const;

    const std::vector<ApiGroup>& groups() const { return m_groups; }
    // The path pattern of the route that dispatch() would match by path (for any method);
    // empty when none has the path.
    QString patternOf(const QString& path) const;

  private:
    static bool matches(const QString& pattern, const QString& path,
                        QHash<QString, QString>& params);

    std::vector<ApiGroup> m_groups;
};
