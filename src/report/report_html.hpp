// The report page: one self-contained HTML file with inline SVG charts.
#pragma once

#include <string>

#include "report/session_model.hpp"

std::string report_html_render(const SessionModel& model);
