// Tunnels through a proxy to the server: HTTP CONNECT and SOCKS5 without
// authentication. The transport (transport.cpp) runs one of them on a fresh
// connection to the proxy before it sends a request. Described in
// docs/transport.md.
#pragma once

#include <cstddef>
#include <string>

#include "platform/net.h"

namespace serverlink {

// Proxy types of the setting "IDC_PROXY_T".
constexpr int kProxyHttp = 1;
constexpr int kProxySocks5 = 5;

// The HTTP proxy's reply is read up to the blank line that ends it, at
// most this many bytes.
constexpr size_t kProxyReplyLimit = 1024;

// The CONNECT request for host:port, with "Proxy-Authorization: Basic"
// of user:password when the user is not empty.
std::string HttpConnectRequest(const std::string& host, const std::string& port,
                               const std::string& user, const std::string& password);

// The status code of an HTTP reply's status line ("HTTP/1.x <code> ..."),
// or -1 when the reply does not start with one.
int HttpStatusCode(const std::string& reply);

// Opens the tunnel to host:port through the HTTP proxy at the other end of
// `proxy`. True only when the proxy's status code is 200. Every step and
// failure is logged ("Тип прокси HTTP", the request, the reply, "Нет связи
// с прокси-сервером").
bool HttpConnectTunnel(const platform::Socket& proxy, const std::string& host,
                       const std::string& port, const std::string& user,
                       const std::string& password, int timeoutMs);

// Opens the tunnel to host:port (resolved here, IPv4) through the SOCKS5
// proxy at the other end of `proxy`: method selection "no authentication",
// then CONNECT. True only when both replies have their exact length,
// version 5, method 0 and reply code 0. Logs "Тип прокси Sock 5" and every
// failure ("Нет связи с прокси-сервером. Получено байт").
bool Socks5Tunnel(const platform::Socket& proxy, const std::string& host,
                  const std::string& port, int timeoutMs);

}  // namespace serverlink
