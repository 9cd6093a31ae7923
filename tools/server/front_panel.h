// The front panel page, its script and its style sheet, compiled in from
// front_panel.html, .js and .css: the server reads no file from disk. The
// script and the style are files of their own so that the page's security
// policy can forbid every inline script.
#ifndef VAREK_SERVER_FRONT_PANEL_H
#define VAREK_SERVER_FRONT_PANEL_H

namespace varek::server {

extern const char* const kFrontPanelPage;
extern const char* const kFrontPanelScript;
extern const char* const kFrontPanelStyle;

}  // namespace varek::server

#endif
