// The display window: a GTK 3 top-level window, run by its own thread, showing the picture of
// the handheld with the LCD drawn into its display area (or the LCD alone filling the window
// when the picture file is missing). Mouse clicks on the pictured keys and key presses become
// key values for the key loop. Other threads only change the drawing state under gtkMutex and
// schedule a redraw in the window thread; at most one redraw is pending at any time.
#include <gtk/gtk.h>
#include <pthread.h>
#include <time.h>
#include <stdio.h>

#include <atomic>
#include <string>

#include "window/device_picture.h"
#include "window/panel/panel.h"
#include "window/lcd_renderer.h"
#include "window/window_api.h"
#include "window/window_geometry.h"

namespace {

constexpr const char* PROGRAM_NAME = "padix";
constexpr const char* WINDOW_TITLE = "Skanvo Emulator / Tarnic Emulator";
constexpr gint REDRAW_PRIORITY = 100;  // below GTK's own drawing, above plain idle work
constexpr guint WINDOW_DESTROYED = 1;  // callbackId once the window is gone: no more redraws
constexpr int DEFAULT_WIDTH = 800;
constexpr int DEFAULT_HEIGHT = 412;

// The picture's aspect (200:103) and the bare LCD area's (740:353) are kept on resizing.
constexpr double PICTURE_ASPECT = 1.941747572815534;
constexpr double LCD_ASPECT = 2.096317280453258;

pthread_t gtkThread;
pthread_mutex_t gtkMutex;
pthread_cond_t gtkCond;
pthread_mutex_t gtkKeyMutex;

struct WindowStart {
  EmuWindowFlags flags;
  bool done;    // the window thread got as far as it could (gtkMutex)
  bool failed;  // no display to open
};
WindowStart start;

// Drawing state, guarded by gtkMutex.
struct DrawingState {
  GtkWidget* window = nullptr;
  GtkWidget* drawingArea = nullptr;
  cairo_surface_t* surface = nullptr;  // the window contents, remade at each size change
  bool withPicture = false;
  double scaleWidth = 1.0, scaleHeight = 1.0;  // window pixels per picture unit
  int lcdTopLeftX = 0, lcdTopLeftY = 0;
  const uint8_t* pDisplayBuf = nullptr;  // the LCD thread's memory last handed over
  int16_t red = 0, green = 0, blue = 0;
  int16_t displayContrast = 255;
  uint8_t numberMemoryIsEnabled = 0;
  int numberMemory = 0;
  guint callbackId = 0;  // pending redraw, 0 none, WINDOW_DESTROYED after the destroy
  GdkCursor* cursor = nullptr;
};
DrawingState state;
// Set by the LCD thread without the lock; the next redraw picks it up.
std::atomic<uint8_t> displayIsRotated{0};

// Input, guarded by gtkKeyMutex.
int key = 0;     // last key typed, taken once
int button = 0;  // device key held with the mouse
bool keyWaitEnded = false;  // emu_GtkEndKeyWait came before the wait
pthread_cond_t gtkKeyChanged = PTHREAD_COND_INITIALIZER;  // wakes the key loop's idle wait

void emu_GtkSetKey(int* slot, int value) {
  pthread_mutex_lock(&gtkKeyMutex);
  *slot = value;
  pthread_cond_broadcast(&gtkKeyChanged);
  pthread_mutex_unlock(&gtkKeyMutex);
}

// Draws the LCD onto the window's surface and queues the LCD area for the screen. gtkMutex held,
// window thread.
void emu_GtkPaintLcd() {
  if (state.pDisplayBuf == nullptr || state.surface == nullptr) return;
  cairo_t* cr = cairo_create(state.surface);
  cairo_scale(cr, state.scaleWidth, state.scaleHeight);
  LcdView view{state.pDisplayBuf,
               state.red,
               state.green,
               state.blue,
               state.displayContrast,
               displayIsRotated.load() != 0,
               state.numberMemoryIsEnabled != 0,
               state.numberMemory};
  emu_RenderLcd(cr, view, state.lcdTopLeftX, state.lcdTopLeftY, state.withPicture,
                state.scaleWidth, state.scaleHeight);
  cairo_destroy(cr);
  gtk_widget_queue_draw_area(state.drawingArea,
                             static_cast<int>(state.lcdTopLeftX * state.scaleWidth),
                             static_cast<int>(state.lcdTopLeftY * state.scaleHeight),
                             static_cast<int>(2 + LCD_AREA_WIDTH * state.scaleWidth),
                             static_cast<int>(2 + LCD_AREA_HEIGHT * state.scaleHeight));
}

// The idle callback that redraws the LCD; removed after one run.
gboolean emu_GtkDrawSurface(gpointer) {
  pthread_mutex_lock(&gtkMutex);
  emu_GtkPaintLcd();
  state.callbackId = 0;
  pthread_mutex_unlock(&gtkMutex);
  return G_SOURCE_REMOVE;
}

// gtkMutex held. Registration of an idle source is safe from any thread.
void emu_GtkScheduleRedraw() {
  state.callbackId =
      gdk_threads_add_idle_full(REDRAW_PRIORITY, emu_GtkDrawSurface, nullptr, nullptr);
}

// A size change: new surface, the picture scaled onto it with a thin dark line round the LCD
// area, then the LCD.
gboolean emu_GtkConfigureEvent(GtkWidget* widget, GdkEventConfigure*, gpointer data) {
  auto* picture = static_cast<cairo_surface_t*>(data);
  int width = gtk_widget_get_allocated_width(widget);
  int height = gtk_widget_get_allocated_height(widget);
  pthread_mutex_lock(&gtkMutex);
  if (state.surface != nullptr) cairo_surface_destroy(state.surface);
  state.surface = gdk_window_create_similar_surface(gtk_widget_get_window(widget),
                                                    CAIRO_CONTENT_COLOR, width, height);
  if (picture != nullptr) {
    state.scaleWidth = static_cast<double>(width) / cairo_image_surface_get_width(picture);
    state.scaleHeight = static_cast<double>(height) / cairo_image_surface_get_height(picture);
    cairo_t* cr = cairo_create(state.surface);
    cairo_scale(cr, state.scaleWidth, state.scaleHeight);
    cairo_set_source_surface(cr, picture, 0, 0);
    // Pad, so that scaling does not blend the picture's border with black.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, state.lcdTopLeftX - 1, state.lcdTopLeftY - 1, LCD_AREA_WIDTH + 2,
                    LCD_AREA_HEIGHT + 2);
    cairo_stroke(cr);
    cairo_destroy(cr);
  } else {
    state.scaleWidth = static_cast<double>(width) / LCD_AREA_WIDTH;
    state.scaleHeight = static_cast<double>(height) / LCD_AREA_HEIGHT;
  }
  // Drawn here directly; a redraw already pending stays pending, so there is never a second.
  emu_GtkPaintLcd();
  GdkCursor* cursor = state.cursor;
  pthread_mutex_unlock(&gtkMutex);
  if (cursor != nullptr) gdk_window_set_cursor(gtk_widget_get_window(state.window), cursor);
  return TRUE;
}

gboolean emu_GtkDraw(GtkWidget*, cairo_t* cr, gpointer) {
  // The surface is made and destroyed by this thread only.
  if (state.surface != nullptr) {
    cairo_set_source_surface(cr, state.surface, 0, 0);
    cairo_paint(cr);
  }
  return TRUE;
}

void emu_GtkToggleFullscreen(GtkWindow* window) {
  if (gtk_window_get_deletable(window)) {
    gtk_window_fullscreen(window);
    gtk_window_set_deletable(window, FALSE);
  } else {
    gtk_window_unfullscreen(window);
    gtk_window_set_deletable(window, TRUE);
  }
}

// ---------------------------------------------------------------------------------------------
// The test bench panel beside the handheld. With it shown the window keeps no aspect of its own:
// the handheld keeps its aspect inside its frame and the panel takes the rest.

constexpr const char* PANEL_MENU_LABEL = "Test bench panel";
GdkGeometry handheldHints{};
GdkWindowHints handheldHintMask = static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_ASPECT);

void emu_GtkShowPanel(GtkWindow* window, bool shown) {
  if (shown == emu_PanelShown()) return;
  int width = 0, height = 0;
  gtk_window_get_size(window, &width, &height);
  const bool resizable = !gtk_window_is_maximized(window) && gtk_window_get_deletable(window);
  emu_PanelSetShown(shown);
  if (shown) {
    GdkGeometry hints = handheldHints;
    hints.min_width += emu_PanelWidth();
    gtk_window_set_geometry_hints(window, nullptr, &hints, GDK_HINT_MIN_SIZE);
    if (resizable) gtk_window_resize(window, width + emu_PanelWidth(), height);
  } else {
    gtk_window_set_geometry_hints(window, nullptr, &handheldHints, handheldHintMask);
    if (resizable) gtk_window_resize(window, width - emu_PanelWidth(), height);
  }
}

void emu_GtkPanelToggled(GtkCheckMenuItem* item, gpointer window) {
  emu_GtkShowPanel(GTK_WINDOW(window), gtk_check_menu_item_get_active(item) != 0);
  emu_PanelRemember(emu_PanelShown());
}

// Typed into the panel (its filter, its lists), a key is the panel's; the handheld has the rest.
bool emu_GtkPanelHasFocus(GtkWidget* window) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
  return focus != nullptr && emu_PanelShown() && emu_PanelHolds(focus);
}

// ---------------------------------------------------------------------------------------------
// The operator's menu, built anew from the host's entries at every right click, so that it shows
// the values as they are now.

EmuMenuDescribe menuDescribe = nullptr;
EmuMenuActivate menuActivate = nullptr;
GtkWidget* operatorMenu = nullptr;
constexpr int MENU_MAX_ENTRIES = 32;
// The dialog the operator's menu waits on (window thread): a close from outside answers it, so
// that its wait ends and the window thread gets back to its main loop to end.
GtkWidget* openDialog = nullptr;
// Where the file chooser opens: the example vehicles' folder first, then the last one used.
std::string chooserFolder;

gint emu_GtkRunDialog(GtkWidget* dialog) {
  openDialog = dialog;
  const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  openDialog = nullptr;
  return response;
}

struct MenuChoice {
  int index;
  int value;
  EmuMenuFile file;
};

void emu_GtkShowMenuMessage(GtkWidget* parent, const char* message) {
  if (message[0] == '\0') return;
  GtkWidget* dialog = gtk_message_dialog_new(GTK_WINDOW(gtk_widget_get_toplevel(parent)), GTK_DIALOG_MODAL,
                                             GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "%s", message);
  emu_GtkRunDialog(dialog);
  gtk_widget_destroy(dialog);
}

// A chosen entry: a file first when it wants one, then the host carries it out. A radio item is
// also activated when it loses its mark to another one of its group, as the menu is built (the
// current value marked) and as the user chooses: only the item marked now has been chosen.
void emu_GtkMenuChosen(GtkMenuItem* item, gpointer data) {
  if (GTK_IS_CHECK_MENU_ITEM(item) && !gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
    return;
  const MenuChoice* choice = static_cast<const MenuChoice*>(data);
  GtkWidget* window = GTK_WIDGET(g_object_get_data(G_OBJECT(item), "padix-window"));
  char message[512] = "";
  if (choice->file == EmuMenuFile::NoFile) {
    menuActivate(choice->index, choice->value, "", message, sizeof message);
  } else {
    const bool open = choice->file == EmuMenuFile::OpenFile;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        open ? "Load vehicle" : "Save vehicle", GTK_WINDOW(window),
        open ? GTK_FILE_CHOOSER_ACTION_OPEN : GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL,
        open ? "_Open" : "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "Vehicle files (*.toml)");
    gtk_file_filter_add_pattern(filter, "*.toml");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    if (chooserFolder.empty()) chooserFolder = emu_FindVehiclesFolder();
    if (!chooserFolder.empty()) gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), chooserFolder.c_str());
    if (emu_GtkRunDialog(dialog) == GTK_RESPONSE_ACCEPT) {
      char* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
      // The chosen file's folder, also when its path was typed (the chooser's own stays put then).
      if (path != nullptr) {
        char* folder = g_path_get_dirname(path);
        chooserFolder = folder;
        g_free(folder);
      }
      if (path != nullptr) menuActivate(choice->index, 0, path, message, sizeof message);
      g_free(path);
    }
    gtk_widget_destroy(dialog);
  }
  emu_GtkShowMenuMessage(window, message);
}

void emu_GtkConnectChoice(GtkWidget* item, GtkWidget* window, int index, int value, EmuMenuFile file) {
  MenuChoice* choice = g_new(MenuChoice, 1);
  *choice = {index, value, file};
  g_object_set_data_full(G_OBJECT(item), "padix-choice", choice, g_free);
  g_object_set_data(G_OBJECT(item), "padix-window", window);
  g_signal_connect(item, "activate", G_CALLBACK(emu_GtkMenuChosen), choice);
}

std::string emu_GtkChoiceLabel(const EmuMenuEntry& e, int choice) {
  if (e.choiceLabels != nullptr) return e.choiceLabels[choice];
  return std::to_string(e.firstValue + choice);
}

// The window's own entry, after the host's: the test bench panel shown or hidden.
void emu_GtkAppendPanelEntry(GtkWidget* window) {
  if (menuDescribe != nullptr) gtk_menu_shell_append(GTK_MENU_SHELL(operatorMenu), gtk_separator_menu_item_new());
  GtkWidget* item = gtk_check_menu_item_new_with_label(PANEL_MENU_LABEL);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), emu_PanelShown());
  g_signal_connect(item, "toggled", G_CALLBACK(emu_GtkPanelToggled), window);
  gtk_menu_shell_append(GTK_MENU_SHELL(operatorMenu), item);
}

void emu_GtkPopupOperatorMenu(GtkWidget* window, GdkEventButton* event) {
  if (operatorMenu != nullptr) gtk_widget_destroy(operatorMenu);
  operatorMenu = gtk_menu_new();
  if (menuDescribe == nullptr || menuActivate == nullptr) {
    emu_GtkAppendPanelEntry(window);
    gtk_widget_show_all(operatorMenu);
    gtk_menu_popup_at_pointer(GTK_MENU(operatorMenu), reinterpret_cast<GdkEvent*>(event));
    return;
  }
  EmuMenuEntry entries[MENU_MAX_ENTRIES];
  const int n = menuDescribe(entries, MENU_MAX_ENTRIES);
  for (int i = 0; i < n; ++i) {
    const EmuMenuEntry& e = entries[i];
    const int current = e.current - e.firstValue;
    const bool known = current >= 0 && current < e.noOfChoices;
    std::string label = e.label;
    if (e.noOfChoices > 0 && known) label += ": " + emu_GtkChoiceLabel(e, current);
    GtkWidget* item = gtk_menu_item_new_with_label(label.c_str());
    gtk_menu_shell_append(GTK_MENU_SHELL(operatorMenu), item);
    if (e.noOfChoices == 0) {
      emu_GtkConnectChoice(item, window, i, 0, e.file);
    } else {
      GtkWidget* submenu = gtk_menu_new();
      // A radio group always has one item marked, the first one made unless another is: when
      // the value is not known, that is an item of the group's own that is never shown.
      GtkWidget* unknown = gtk_radio_menu_item_new(nullptr);
      GSList* group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(unknown));
      gtk_widget_set_no_show_all(unknown, TRUE);
      gtk_menu_shell_append(GTK_MENU_SHELL(submenu), unknown);
      for (int c = 0; c < e.noOfChoices; ++c) {
        GtkWidget* choice = gtk_radio_menu_item_new_with_label(group, emu_GtkChoiceLabel(e, c).c_str());
        group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(choice));
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(choice), known && c == current);
        emu_GtkConnectChoice(choice, window, i, e.firstValue + c, EmuMenuFile::NoFile);
        gtk_menu_shell_append(GTK_MENU_SHELL(submenu), choice);
      }
      gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
    }
    if (e.separatorAfter != 0) gtk_menu_shell_append(GTK_MENU_SHELL(operatorMenu), gtk_separator_menu_item_new());
  }
  emu_GtkAppendPanelEntry(window);
  gtk_widget_show_all(operatorMenu);
  gtk_menu_popup_at_pointer(GTK_MENU(operatorMenu), reinterpret_cast<GdkEvent*>(event));
}

bool emu_GtkIsButton3Press(const GdkEventButton* event) {
  return event->type == GDK_BUTTON_PRESS && event->button == 3;
}

// Only single presses of button 1 count; the extra events of a double click would otherwise
// toggle full screen twice more.
bool emu_GtkIsButton1Press(const GdkEventButton* event) {
  return event->type == GDK_BUTTON_PRESS && event->button == 1;
}

void emu_GtkApplyClick(GtkWidget* widget, int hit) {
  gtk_window_set_focus(GTK_WINDOW(gtk_widget_get_toplevel(widget)), nullptr);  // keys to the handheld again
  if (hit == AREA_TOGGLE_FULLSCREEN)
    emu_GtkToggleFullscreen(GTK_WINDOW(gtk_widget_get_toplevel(widget)));
  else if (hit != 0)
    emu_GtkSetKey(&button, hit);
}

gboolean emu_GtkButtonPressEvent(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (emu_GtkIsButton3Press(event)) {
    emu_GtkPopupOperatorMenu(gtk_widget_get_toplevel(widget), event);
    return TRUE;
  }
  if (!emu_GtkIsButton1Press(event)) return FALSE;
  pthread_mutex_lock(&gtkMutex);
  double scaleWidth = state.scaleWidth, scaleHeight = state.scaleHeight;
  pthread_mutex_unlock(&gtkMutex);
  emu_GtkApplyClick(widget, emu_PictureClick(event->x, event->y,
                                             gtk_widget_get_allocated_width(widget), scaleWidth,
                                             scaleHeight));
  return TRUE;
}

gboolean emu_GtkAreaPressEvent(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (emu_GtkIsButton3Press(event)) {
    emu_GtkPopupOperatorMenu(gtk_widget_get_toplevel(widget), event);
    return TRUE;
  }
  if (!emu_GtkIsButton1Press(event)) return FALSE;
  int width = gtk_widget_get_allocated_width(widget);
  int height = gtk_widget_get_allocated_height(widget);
  emu_GtkApplyClick(widget, emu_AreaClick(event->x, event->y, width, height));
  return TRUE;
}

gboolean emu_GtkButtonReleaseEvent(GtkWidget*, GdkEventButton* event, gpointer) {
  if (event->button != 1) return FALSE;
  emu_GtkSetKey(&button, 0);
  return TRUE;
}

gboolean emu_GtkKeyPressEvent(GtkWidget* widget, GdkEventKey* event, gpointer) {
  if (event->keyval == static_cast<guint>(EMU_KEY_PANEL)) {
    emu_GtkShowPanel(GTK_WINDOW(widget), !emu_PanelShown());
    emu_PanelRemember(emu_PanelShown());
    return TRUE;
  }
  if (emu_GtkPanelHasFocus(widget)) return FALSE;
  emu_GtkSetKey(&key, static_cast<int>(event->keyval));
  if (event->keyval == static_cast<guint>(EMU_KEY_QUIT)) gtk_widget_destroy(widget);
  return TRUE;
}

void emu_GtkDestroy(GtkWidget*, gpointer) {
  pthread_mutex_lock(&gtkMutex);
  if (state.callbackId != 0 && state.callbackId != WINDOW_DESTROYED)
    g_source_remove(state.callbackId);
  state.callbackId = WINDOW_DESTROYED;
  if (state.surface != nullptr) cairo_surface_destroy(state.surface);
  state.surface = nullptr;
  pthread_mutex_unlock(&gtkMutex);
  gtk_main_quit();
  emu_GtkSetKey(&key, EMU_KEY_QUIT);  // the key loop ends the run
}

// A close asked for by another thread (a signal that ends the run): the window goes as if its
// close button was clicked, which ends the run the window's own way. Nothing to do once it is gone.
gboolean emu_GtkCloseWindow(gpointer) {
  pthread_mutex_lock(&gtkMutex);
  GtkWidget* window = state.callbackId != WINDOW_DESTROYED ? state.window : nullptr;
  pthread_mutex_unlock(&gtkMutex);
  if (openDialog != nullptr) gtk_dialog_response(GTK_DIALOG(openDialog), GTK_RESPONSE_CANCEL);
  if (window != nullptr) gtk_widget_destroy(window);
  return G_SOURCE_REMOVE;
}

void emu_GtkReportStart(bool failed) {
  pthread_mutex_lock(&gtkMutex);
  start.done = true;
  start.failed = failed;
  pthread_cond_signal(&gtkCond);
  pthread_mutex_unlock(&gtkMutex);
}

void* emu_GtkThread(void*) {
  (void)pthread_setname_np(pthread_self(), "window");
  // The program's name is the window's class and its icon's name in the desktop's icon theme,
  // so that the desktop ties the window to the menu entry that started it.
  g_set_prgname(PROGRAM_NAME);
  if (!gtk_init_check(nullptr, nullptr)) {
    fprintf(stderr, "gtk_init() failed: cannot open the display!\n");
    emu_GtkReportStart(true);
    return nullptr;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_signal_connect(window, "destroy", G_CALLBACK(emu_GtkDestroy), nullptr);
  g_signal_connect(window, "key-press-event", G_CALLBACK(emu_GtkKeyPressEvent), nullptr);

  // Without a readable picture the window shows the LCD alone and the keys are its quadrants.
  const std::string picturePath = emu_FindDevicePicture();
  cairo_surface_t* picture = cairo_image_surface_create_from_png(picturePath.c_str());
  if (cairo_surface_status(picture) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(picture);
    picture = nullptr;
  }
  // The handheld keeps its aspect in its frame; the test bench panel, when shown, sits beside it.
  GtkWidget* area = gtk_drawing_area_new();
  GtkWidget* handheld =
      gtk_aspect_frame_new(nullptr, 0.5f, 0.5f, static_cast<gfloat>(picture != nullptr ? PICTURE_ASPECT : LCD_ASPECT), FALSE);
  gtk_frame_set_shadow_type(GTK_FRAME(handheld), GTK_SHADOW_NONE);
  gtk_container_add(GTK_CONTAINER(handheld), area);
  GtkWidget* bench = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_box_pack_start(GTK_BOX(bench), handheld, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(bench), emu_PanelNew(), FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), bench);

  gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
  GdkGeometry& hints = handheldHints;
  if (picture != nullptr) {
    g_signal_connect(area, "button-press-event", G_CALLBACK(emu_GtkButtonPressEvent), nullptr);
    hints.min_width = 640;
    hints.min_height = 330;
    hints.min_aspect = hints.max_aspect = PICTURE_ASPECT;
  } else {
    g_signal_connect(area, "button-press-event", G_CALLBACK(emu_GtkAreaPressEvent), nullptr);
    hints.min_width = 320;
    hints.min_height = 153;
    hints.min_aspect = hints.max_aspect = LCD_ASPECT;
  }
  g_signal_connect(area, "button-release-event", G_CALLBACK(emu_GtkButtonReleaseEvent), nullptr);
  gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &hints, handheldHintMask);
  gtk_window_set_title(GTK_WINDOW(window), WINDOW_TITLE);
  gtk_window_set_icon_name(GTK_WINDOW(window), PROGRAM_NAME);

  if (start.flags.fullscreen) {
    gtk_window_fullscreen(GTK_WINDOW(window));
    gtk_window_set_deletable(GTK_WINDOW(window), FALSE);
  } else if (start.flags.maximize) {
    gtk_window_maximize(GTK_WINDOW(window));
  } else {
    gtk_window_set_default_size(GTK_WINDOW(window), DEFAULT_WIDTH, DEFAULT_HEIGHT);
  }

  g_signal_connect(area, "draw", G_CALLBACK(emu_GtkDraw), nullptr);
  g_signal_connect(area, "configure-event", G_CALLBACK(emu_GtkConfigureEvent), picture);

  pthread_mutex_lock(&gtkMutex);
  state.window = window;
  state.drawingArea = area;
  state.withPicture = picture != nullptr;
  state.lcdTopLeftX = picture != nullptr ? LCD_PICTURE_X : 0;
  state.lcdTopLeftY = picture != nullptr ? LCD_PICTURE_Y : 0;
  if (start.flags.hideCursor)
    state.cursor = gdk_cursor_new_for_display(gdk_display_get_default(), GDK_BLANK_CURSOR);
  pthread_mutex_unlock(&gtkMutex);

  if (emu_PanelRemembered()) emu_GtkShowPanel(GTK_WINDOW(window), true);
  // The keys are the handheld's from the start, also when the panel is shown with its fields.
  gtk_widget_set_can_focus(area, TRUE);
  gtk_widget_show_all(window);
  gtk_widget_grab_focus(area);
  emu_GtkReportStart(false);
  gtk_main();

  if (picture != nullptr) cairo_surface_destroy(picture);
  pthread_mutex_lock(&gtkMutex);
  if (state.cursor != nullptr) g_object_unref(state.cursor);
  state.cursor = nullptr;
  pthread_mutex_unlock(&gtkMutex);
  return nullptr;
}

bool emu_GtkReport(const char* call, int err) {
  if (err != 0) fprintf(stderr, "%s failed with error %d!\n", call, err);
  return err == 0;
}

}  // namespace

int emu_GtkInit(const EmuWindowFlags& flags) {
  start = WindowStart{flags, false, false};
  state = DrawingState{};
  displayIsRotated = 0;
  key = button = 0;
  if (!emu_GtkReport("pthread_cond_init(gtkCond)", pthread_cond_init(&gtkCond, nullptr)) ||
      !emu_GtkReport("pthread_mutex_init(gtkMutex)", pthread_mutex_init(&gtkMutex, nullptr)))
    return -1;
  pthread_mutex_lock(&gtkMutex);
  if (!emu_GtkReport("pthread_create(gtkThread)",
                     pthread_create(&gtkThread, nullptr, emu_GtkThread, nullptr))) {
    pthread_mutex_unlock(&gtkMutex);
    return -1;
  }
  bool keyMutexMade =
      emu_GtkReport("pthread_mutex_init(gtkKeyMutex)", pthread_mutex_init(&gtkKeyMutex, nullptr));
  while (!start.done) pthread_cond_wait(&gtkCond, &gtkMutex);
  bool failed = start.failed;
  pthread_mutex_unlock(&gtkMutex);
  pthread_cond_destroy(&gtkCond);
  if (failed) pthread_join(gtkThread, nullptr);
  return keyMutexMade && !failed ? 0 : -1;
}

const bool emu_GtkWaitForReturnOnFailure = true;

// The window thread runs the default main context once the window is shown: a close asked for
// before that is carried out then.
void emu_GtkClose() { gdk_threads_add_idle(emu_GtkCloseWindow, nullptr); }

void emu_GtkExit() {
  pthread_join(gtkThread, nullptr);
  emu_GtkReport("pthread_mutex_destroy(gtk)", pthread_mutex_destroy(&gtkMutex));
  emu_GtkReport("pthread_mutex_destroy(gtkKey)", pthread_mutex_destroy(&gtkKeyMutex));
}

int emu_GtkGetKey() {
  pthread_mutex_lock(&gtkKeyMutex);
  int value = key;
  if (value != 0)
    key = 0;
  else
    value = button;  // stays set while the mouse button is held
  pthread_mutex_unlock(&gtkKeyMutex);
  return value;
}

void emu_GtkWaitForKey(int timeoutMs) {
  const struct timespec deadline = emu_DeadlineAfterMs(timeoutMs < 0 ? 0 : timeoutMs);
  pthread_mutex_lock(&gtkKeyMutex);
  if (key == 0 && !keyWaitEnded) {
    if (timeoutMs < 0)
      pthread_cond_wait(&gtkKeyChanged, &gtkKeyMutex);
    else
      pthread_cond_timedwait(&gtkKeyChanged, &gtkKeyMutex, &deadline);
  }
  keyWaitEnded = false;
  pthread_mutex_unlock(&gtkKeyMutex);
}

void emu_GtkEndKeyWait() {
  pthread_mutex_lock(&gtkKeyMutex);
  keyWaitEnded = true;
  pthread_cond_broadcast(&gtkKeyChanged);
  pthread_mutex_unlock(&gtkKeyMutex);
}

int emu_GtkDrawDisplay(const uint8_t* displayMem) {
  pthread_mutex_lock(&gtkMutex);
  int result = -1;
  if (state.callbackId == 0) {
    state.pDisplayBuf = displayMem;
    emu_GtkScheduleRedraw();
    result = 0;
  }
  pthread_mutex_unlock(&gtkMutex);
  return result;
}

void emu_GtkSetColors(int red, int green, int blue, const uint8_t* displayMem) {
  pthread_mutex_lock(&gtkMutex);
  if (red != state.red || green != state.green || blue != state.blue) {
    state.red = static_cast<int16_t>(red);
    state.green = static_cast<int16_t>(green);
    state.blue = static_cast<int16_t>(blue);
    state.pDisplayBuf = displayMem;
    if (state.callbackId == 0) emu_GtkScheduleRedraw();
  }
  pthread_mutex_unlock(&gtkMutex);
}

void emu_GtkSetContrast(int value) {
  pthread_mutex_lock(&gtkMutex);
  if (value != state.displayContrast) {
    state.displayContrast = static_cast<int16_t>(value);
    if (state.pDisplayBuf != nullptr && state.callbackId == 0) emu_GtkScheduleRedraw();
  }
  pthread_mutex_unlock(&gtkMutex);
}

void emu_GtkSetOrientation(int rotated) { displayIsRotated = static_cast<uint8_t>(rotated); }

// The window has no command line: its menu does what the commands do.
void emu_GtkSetHostVerbs(const EmuHostVerb*, size_t) {}
bool emu_GtkCommandFailed() { return false; }

void emu_GtkSetOperatorMenu(EmuMenuDescribe describe, EmuMenuActivate activate) {
  menuDescribe = describe;
  menuActivate = activate;
}

void emu_GtkDrawNumberMem(int value, int enabled) {
  pthread_mutex_lock(&gtkMutex);
  bool unchanged = enabled == state.numberMemoryIsEnabled &&
                   (enabled == 0 || value == state.numberMemory);
  if (!unchanged) {
    state.numberMemoryIsEnabled = static_cast<uint8_t>(enabled);
    state.numberMemory = value;
    if (state.pDisplayBuf != nullptr && state.callbackId == 0) emu_GtkScheduleRedraw();
  }
  pthread_mutex_unlock(&gtkMutex);
}
