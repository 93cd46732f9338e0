// Copies of the device's ONVIF media configuration kept in a session.
#pragma once

#include <string>

// Copies the media configuration into the session's monitoring_onvif folder under a
// time-stamped name; a copy is never overwritten.
void onvif_copy_media_conf(const std::string& session_path);
