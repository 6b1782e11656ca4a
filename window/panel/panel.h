// The test bench panel beside the handheld (GTK window only): sections stacked in a scrolled
// column, refreshed by one timer only while the panel is shown: 5 times a second while anything
// changes, once a second after a while of no change,
// each section redrawing only what changed.
#pragma once

#include <gtk/gtk.h>

#include "window/panel/panel_sources.h"

struct EmuPanelSection {
  const char* title;
  GtkWidget* (*build)();  // the section's widgets, made once on the window's thread
  bool (*refresh)();      // brings them up to date, touching only what changed; true when anything did
};

// The sections, one file each.
extern const EmuPanelSection PANEL_LINE_SECTION;     // panel_line_view.cpp
extern const EmuPanelSection PANEL_TRAFFIC_SECTION;  // panel_traffic_view.cpp
extern const EmuPanelSection PANEL_CAR_SECTION;      // panel_car_view.cpp
extern const EmuPanelSection PANEL_FAULTS_SECTION;   // panel_faults_view.cpp

// The host's sources (never null: empty ones until the host hands its own over).
const EmuPanelLineSource& emu_PanelLineSource();
const EmuPanelCarSource& emu_PanelCarSource();

// Window thread.
GtkWidget* emu_PanelNew();  // the panel, hidden
void emu_PanelSetShown(bool shown);
bool emu_PanelShown();
int emu_PanelWidth();  // what the window grows by when the panel is shown
bool emu_PanelHolds(GtkWidget* widget);  // the widget is the panel's

// Shown or hidden, remembered across runs in $XDG_CONFIG_HOME/padix/panel (~/.config without
// it): written when the user shows or hides the panel; a file missing or not understood means
// hidden.
bool emu_PanelRemembered();
void emu_PanelRemember(bool shown);
