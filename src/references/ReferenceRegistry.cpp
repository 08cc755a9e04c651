// SPDX-License-Identifier: GPL-3.0-or-later
#include "references/ReferenceRegistry.h"

#include "references/GpsReceiver.h"
#include "references/SntpClient.h"

namespace kv {

std::optional<ReferenceId> ReferenceRegistry::Add(ReferenceKind kind) {
    if (Count() >= MaxKinds || !kind.Make || Find(kind.Key)) return std::nullopt;
    Kinds.push_back(std::move(kind));
    return Count() - 1;
}

std::optional<ReferenceId> ReferenceRegistry::Find(std::string_view key) const {
    for (int id = 0; id < Count(); ++id)
        if (Kind(id).Key == key) return id;
    return std::nullopt;
}

ReferenceRegistry BuiltInReferences() {
    ReferenceRegistry r;
    r.Add({"Sntp", "SNTP",
           [](const ReferenceSettings& s, const ReferenceEnvironment& env) {
               return std::make_unique<SntpReference>(s.SntpServer, s.SntpPort, env.Sockets,
                                                      env.Clock);
           },
           [](const ReferenceSettings& s) {
               return s.SntpServer + ':' + std::to_string(s.SntpPort);
           }});
    r.Add({"Gps", "GPS",
           [](const ReferenceSettings&, const ReferenceEnvironment& env) {
               return std::make_unique<GpsReceiver>(env.Ports, env.Clock);
           },
           nullptr});
    return r;
}

ReferenceSettings ReferenceSettingsFrom(const AppSettings& app) {
    return {app.SNTPServer, app.SNTPPort, app.GPSPort, app.GPSBaud};
}

} // namespace kv
