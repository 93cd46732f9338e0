// The web tool's one HTML page, made from what the I/O layer learnt of the device. No script:
// plain forms that post and are redirected back (Post/Redirect/Get), every value escaped.
//
// What a browser test can rely on:
//   #session            the session now; its data-state is "active" or "idle"
//   #session-name, #session-storage, #session-start, #session-duration, #session-points,
//   #session-size, #session-use          its values (present while a session is active)
//   #refusal            why the last request was refused (only then)
//   form#start-form     POST .../session/start; select#storage name=storage (ids and
//                       "internal"), button#start
//   form#stop-form      POST .../session/stop; button#stop (only while a session is active)
//   a#show-sessions     the page with the list (only while a session is active without it)
//   table#sessions      one tr.session per session folder, data-name and data-storage set;
//                       in it a.zip (the download link), span.packing ("packing…") or
//                       form.delete with button.delete
//   section#netchecks   form#ping-form (GET .../ping, input#ping-address name=address,
//                       button#ping, button#traceroute posting to .../traceroute with the same
//                       address), form#dns-form (GET .../dns, input#dns-name name=name,
//                       button#dns); each answer shows in iframe#diag-output (name diag-output)
//   section#capture     the system-log capture; data-state "running", "stopped", "full",
//                       "none" or "refused"; p#capture-state says it in words;
//                       button#capture-start, #capture-stop, #capture-resume in forms of the
//                       same ids with "-form"; a#capture-download (while a capture file exists)
//   every POST form carries the hidden field "token"
// The page refreshes itself every 10 s while a session runs or packs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/html.hpp"
#include "lib/storage_investigator.hpp"
#include "web/capture.hpp"
#include "web/session_tool.hpp"

struct CgiPage {
    SessionStatus status;
    std::optional<StorageList> storages;                // when it was fetched
    std::optional<std::vector<SessionEntry>> sessions;  // when it was fetched
    std::optional<CaptureStatus> capture;               // when it was looked at
    std::string refusal;                                // shown at the top when set
    std::string token;
    std::string base;  // where the page lives; the forms post below it
};

// `text` safe as a query value.
std::string url_encode(std::string_view text);

std::string cgi_page_render(const CgiPage& page);
