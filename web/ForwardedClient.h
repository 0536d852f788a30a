#pragma once

#include <QByteArrayList>
#include <QString>

#include "core/ProxyTrust.h"

// The client behind proxies: when the peer is a trusted proxy, the right-most address of the
// X-Forwarded-For values (every header line, in order) that is not itself a trusted proxy; the
// peer otherwise. Entries left of that one are the client's own word and are never believed; an
// entry that is no address ends the walk at the proxy that passed it on.
QString forwardedClient(const QString& peer, const QByteArrayList& forwardedFor,
                        const ProxyTrust& proxies);
