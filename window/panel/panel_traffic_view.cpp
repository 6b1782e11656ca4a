// The panel's "Traffic" section: the traffic log's last entries as the log writes them (time,
// sender, bytes), the tester's and the module's in two colours. New entries are asked for by
// number after the last one shown, so that a refresh with nothing new costs one count. Paused,
// the view stays as it is (the entries go on being kept by the log); a filter shows the entries
// that hold its text. Selected entries can be copied, or taken into the car as "import" takes a
// traffic log (all those shown when none are selected).
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "window/panel/panel.h"

namespace {

constexpr size_t SHOWN_MAX = 400;        // entries the view holds
constexpr size_t TRIM_STEP = 50;         // entries dropped at once when it holds more: less relayout
constexpr int REFRESHES_PER_TAKE = 2;    // new entries taken at every other refresh: 2.5 times a second
constexpr size_t ENTRY_TEXT_MAX = 1024;  // characters of an entry asked for
constexpr int VIEW_HEIGHT = 160;

struct TrafficView {
  GtkWidget* text = nullptr;
  GtkTextBuffer* buffer = nullptr;
  GtkWidget* pause = nullptr;
  GtkWidget* filter = nullptr;
  GtkWidget* message = nullptr;
  std::deque<std::string> entries;  // the last SHOWN_MAX, filtered or not
  uint64_t last = 0;                // number of the last entry taken from the source
  size_t linesInBuffer = 0;
  unsigned refreshes = 0;
};
TrafficView view;

bool emu_TrafficPasses(const std::string& entry) {
  const char* filter = gtk_entry_get_text(GTK_ENTRY(view.filter));
  return filter[0] == '\0' || entry.find(filter) != std::string::npos;
}

// The tester's entries in one colour, the module's in the other, told by the log's sender word;
// the log's notes ("#" first) in grey.
const char* emu_TrafficTag(const std::string& entry) {
  if (!entry.empty() && entry[0] == '#') return "note";
  return entry.find(" tester ") != std::string::npos ? "tester" : "module";
}

// Entries go in as one text, their colours after: the view lays the new lines out once.
void emu_TrafficAppendAll(const std::vector<const std::string*>& entries) {
  if (entries.empty()) return;
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (view.linesInBuffer > 0 || i > 0) text += '\n';
    text += *entries[i];
  }
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(view.buffer, &end);
  const gint firstLine = view.linesInBuffer > 0 ? gtk_text_iter_get_line(&end) + 1 : 0;
  gtk_text_buffer_insert(view.buffer, &end, text.c_str(), static_cast<gint>(text.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    GtkTextIter from, to;
    gtk_text_buffer_get_iter_at_line(view.buffer, &from, firstLine + static_cast<gint>(i));
    to = from;
    gtk_text_iter_forward_to_line_end(&to);
    gtk_text_buffer_apply_tag_by_name(view.buffer, emu_TrafficTag(*entries[i]), &from, &to);
  }
  view.linesInBuffer += entries.size();
}

// The oldest lines out, some at a time, so that the view is not laid out again at every entry.
void emu_TrafficTrim() {
  if (view.linesInBuffer <= SHOWN_MAX + TRIM_STEP) return;
  const size_t drop = view.linesInBuffer - SHOWN_MAX;
  GtkTextIter first, last;
  gtk_text_buffer_get_start_iter(view.buffer, &first);
  gtk_text_buffer_get_iter_at_line(view.buffer, &last, static_cast<gint>(drop));
  gtk_text_buffer_delete(view.buffer, &first, &last);
  view.linesInBuffer -= drop;
}

// Down to the newest entry. Set on the scroll bar: the view only moves and draws what shows, where
// scrolling to a mark would lay out the lines on the way first.
void emu_TrafficScrollToEnd() {
  GtkAdjustment* bar = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view.text));
  gtk_adjustment_set_value(bar, gtk_adjustment_get_upper(bar) - gtk_adjustment_get_page_size(bar));
}

void emu_TrafficShowAgain() {
  gtk_text_buffer_set_text(view.buffer, "", -1);
  view.linesInBuffer = 0;
  std::vector<const std::string*> shown;
  for (const std::string& entry : view.entries)
    if (emu_TrafficPasses(entry)) shown.push_back(&entry);
  emu_TrafficAppendAll(shown);
  emu_TrafficTrim();
  emu_TrafficScrollToEnd();
}

void emu_TrafficFilterChanged(GtkEditable*, gpointer) { emu_TrafficShowAgain(); }

// The selected text, or all shown when nothing is selected.
std::string emu_TrafficChosenText() {
  GtkTextIter from, to;
  if (!gtk_text_buffer_get_selection_bounds(view.buffer, &from, &to)) gtk_text_buffer_get_bounds(view.buffer, &from, &to);
  char* text = gtk_text_buffer_get_text(view.buffer, &from, &to, FALSE);
  std::string chosen = text != nullptr ? text : "";
  g_free(text);
  return chosen;
}

void emu_TrafficCopy(GtkButton*, gpointer) {
  const std::string text = emu_TrafficChosenText();
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), text.c_str(), -1);
}

void emu_TrafficImport(GtkButton*, gpointer) {
  const EmuPanelLineSource& source = emu_PanelLineSource();
  if (source.importText == nullptr) return;
  const std::string text = emu_TrafficChosenText() + "\n";
  char message[512] = "";
  source.importText(text.c_str(), message, sizeof message);
  gtk_label_set_text(GTK_LABEL(view.message), message);
}

GtkWidget* emu_TrafficButton(const char* label, GCallback clicked) {
  GtkWidget* button = gtk_button_new_with_label(label);
  g_signal_connect(button, "clicked", clicked, nullptr);
  return button;
}

GtkWidget* emu_PanelTrafficBuild() {
  view = TrafficView{};
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  gtk_container_set_border_width(GTK_CONTAINER(box), 6);

  GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  view.pause = gtk_toggle_button_new_with_label("Pause");
  view.filter = gtk_search_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(view.filter), "Filter");
  g_signal_connect(view.filter, "changed", G_CALLBACK(emu_TrafficFilterChanged), nullptr);
  gtk_box_pack_start(GTK_BOX(bar), view.pause, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(bar), view.filter, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(bar), emu_TrafficButton("Copy", G_CALLBACK(emu_TrafficCopy)), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);

  view.text = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view.text), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view.text), FALSE);
  gtk_text_view_set_monospace(GTK_TEXT_VIEW(view.text), TRUE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view.text), GTK_WRAP_NONE);  // no wrapping to lay out
  view.buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view.text));
  gtk_text_buffer_create_tag(view.buffer, "tester", "foreground", "#1f5fbf", nullptr);
  gtk_text_buffer_create_tag(view.buffer, "module", "foreground", "#2e8b3a", nullptr);
  gtk_text_buffer_create_tag(view.buffer, "note", "foreground", "#777777", nullptr);
  GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_widget_set_size_request(scrolled, -1, VIEW_HEIGHT);
  gtk_container_add(GTK_CONTAINER(scrolled), view.text);
  gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);

  gtk_box_pack_start(GTK_BOX(box),
                     emu_TrafficButton("Take these answers into the car", G_CALLBACK(emu_TrafficImport)), FALSE,
                     FALSE, 0);
  view.message = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(view.message), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(view.message), TRUE);
  gtk_box_pack_start(GTK_BOX(box), view.message, FALSE, FALSE, 0);
  return box;
}

bool emu_PanelTrafficRefresh() {
  const EmuPanelLineSource& source = emu_PanelLineSource();
  if (source.trafficCount == nullptr || source.trafficEntry == nullptr) return false;
  if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(view.pause))) return false;
  const uint64_t count = source.trafficCount();
  if (count == view.last) return false;
  // Entries keep coming: taken every other refresh, the view laid out half as often.
  if (++view.refreshes % REFRESHES_PER_TAKE != 1) return true;
  uint64_t number = view.last + 1;
  if (count > SHOWN_MAX && number < count - SHOWN_MAX + 1) number = count - SHOWN_MAX + 1;
  std::vector<std::string> fresh;
  char text[ENTRY_TEXT_MAX];
  for (; number <= count; ++number)
    if (source.trafficEntry(number, text, sizeof text) == 0) fresh.emplace_back(text);  // else gone meanwhile
  view.last = count;
  std::vector<const std::string*> added;
  for (const std::string& entry : fresh) {
    view.entries.push_back(entry);
    if (view.entries.size() > SHOWN_MAX) view.entries.pop_front();
    if (emu_TrafficPasses(entry)) added.push_back(&entry);
  }
  emu_TrafficAppendAll(added);
  if (added.empty()) return true;
  emu_TrafficTrim();
  emu_TrafficScrollToEnd();
  return true;
}

}  // namespace

const EmuPanelSection PANEL_TRAFFIC_SECTION{"Traffic", emu_PanelTrafficBuild, emu_PanelTrafficRefresh};
