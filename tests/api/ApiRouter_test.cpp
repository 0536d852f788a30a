// The door of the v2 routes: matching, path parameters and who may call.
#include "api/v2/ApiRouter.h"

#include <gtest/gtest.h>

namespace {
ApiRouter router() {
    ApiGroup group;
    group.tag = "t";
    const auto echo = [](const ApiRequest& r) {
        return ApiReply::json(200, r.params.value("sn").toUtf8());
    };
    group.routes = {
        {"GET", "/KORVA/v2/devices/{sn}", Role::Viewer, "readDevice", "read", echo, "{}"},
        {"PUT", "/KORVA/v2/devices/{sn}", Role::Operator, "editDevice", "edit", echo, "{}"},
        {"GET", "/KORVA/v2/me", Role::Viewer, "getMe", "me",
         [](const ApiRequest&) { return ApiReply::json(200, "me"); }, "{}", true}};
    return ApiRouter({group});
}

TEST(ApiRouter, MatchesGuardsAndCapturesParameters) {
    const struct {
        QByteArray method;
        QString path;
        Role role;
        bool authenticated;
        bool mustChangePassword;
        int status;
        QByteArray body;  // checked when not empty
    } cases[] = {
        {"GET", "/KORVA/v2/devices/SN1", Role::Viewer, true, false, 200, "SN1"},
        {"PUT", "/KORVA/v2/devices/SN2", Role::Operator, true, false, 200, "SN2"},
        {"PUT", "/KORVA/v2/devices/SN2", Role::Admin, true, false, 200, "SN2"},
        {"PUT", "/KORVA/v2/devices/SN2", Role::Viewer, true, false, 403, ""},
        {"GET", "/KORVA/v2/devices/SN1", Role::Public, false, false, 401, ""},
        {"GET", "/KORVA/v2/devices/", Role::Admin, true, false, 404, ""},
        {"GET", "/KORVA/v2/devices/SN1/x", Role::Admin, true, false, 404, ""},
        {"DELETE", "/KORVA/v2/devices/SN1", Role::Admin, true, false, 405, ""},
        // A session whose password must be changed reaches only the routes open for that.
        {"GET", "/KORVA/v2/devices/SN1", Role::Admin, true, true, 403, "password_change_required"},
        {"GET", "/KORVA/v2/me", Role::Admin, true, true, 200, "me"},
    };
    const ApiRouter r = router();
    for (const auto& c : cases) {
        ApiRequest request;
        request.method = c.method;
        request.path = c.path;
        request.role = c.role;
        request.authenticated = c.authenticated;
        request.caller.mustChangePassword = c.mustChangePassword;
        const ApiReply reply = r.dispatch(request);
        EXPECT_EQ(reply.status, c.status) << c.method.constData() << " " << c.path.toStdString();
        if (!c.body.isEmpty()) {
            EXPECT_TRUE(reply.body.contains(c.body)) << reply.body.constData();
        }
    }
}
}  // namespace
