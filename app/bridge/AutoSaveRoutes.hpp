#pragma once
// Auto-save rules for the page: a document's state, setting or removing the
// rule of a document or of its folder, and listing and editing every rule.
// Documents are named as every document route names them (a file handle or a
// path in the open folder). All on io, where the rules live.
#include "app/bridge/FileHandles.hpp"
#include "app/bridge/OpenFolder.hpp"
#include "app/bridge/Responder.hpp"
#include "app/bridge/RouteTable.hpp"
#include "core/AutoSaveRules.hpp"

class AutoSaveRoutes {
public:
    AutoSaveRoutes(Responder& responder, AutoSaveRules& rules, OpenFolder& folder, FileHandles& handles);
    void addRoutes(RouteTable& table);

private:
    void getState(const ApiRequest& request);
    void setRule(const ApiRequest& request);
    void listRules(const ApiRequest& request);
    void changeRule(const ApiRequest& request);

    // The document's absolute path; throws as the document routes do.
    std::string documentPath(const Query& query) const;

    Responder& responder_;
    AutoSaveRules& rules_;
    OpenFolder& folder_;
    FileHandles& handles_;
};
