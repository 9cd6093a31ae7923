// The front panel page, compiled in from front_panel.html: the server reads
// no file from disk.
#ifndef VAREK_SERVER_FRONT_PANEL_H
#define VAREK_SERVER_FRONT_PANEL_H

namespace varek::server {

extern const char* const kFrontPanelPage;

}  // namespace varek::server

#endif
