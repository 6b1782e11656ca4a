// The test bench panel beside the handheld under a virtual X server (run by xvfb-run): shown and
// hidden with its key (the window grows and shrinks, the handheld's keys stay where they were),
// remembered for the next run, keys typed into it kept from the handheld, the operator menu's
// unknown values marked nowhere, and, with padix serving an OBD program, the traffic view
// holding what the client has just asked and been answered. Widgets are found through GTK on the
// window's thread; input comes as a user's does, through the XTEST extension.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/wait_for.h"
#include "window/panel/panel.h"
#include "window/window_api.h"
#include "window/window_geometry.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the test framework's names.
#include "tests/gtk/config_home.h"
#include "tests/x11/x_session.h"

namespace {

std::string BinDir() {
  const char* dir = getenv("PADIX_BIN_DIR");
  return dir != nullptr ? dir : ".";
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return abs(a.r - b.r) <= tolerance && abs(a.g - b.g) <= tolerance && abs(a.b - b.b) <= tolerance;
}

// Runs `f` on the window's thread, where GTK's widgets may be looked at, and waits for it.
bool OnWindowThread(const std::function<void()>& f) {
  struct Job {
    std::function<void()> f;
    std::atomic<bool> done{false};
  };
  auto job = std::make_shared<Job>();
  job->f = f;
  gdk_threads_add_idle(
      [](gpointer data) -> gboolean {
        auto* held = static_cast<std::shared_ptr<Job>*>(data);
        (*held)->f();
        (*held)->done = true;
        delete held;
        return G_SOURCE_REMOVE;
      },
      new std::shared_ptr<Job>(job));
  return WaitFor([&] { return job->done.load(); });
}

// Every widget under `top`, its inner ones too, and the menus of its menu items.
void Walk(GtkWidget* top, const std::function<void(GtkWidget*)>& visit) {
  visit(top);
  if (GTK_IS_MENU_ITEM(top) && gtk_menu_item_get_submenu(GTK_MENU_ITEM(top)) != nullptr)
    Walk(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top)), visit);
  if (!GTK_IS_CONTAINER(top)) return;
  std::vector<GtkWidget*> children;
  gtk_container_forall(
      GTK_CONTAINER(top),
      [](GtkWidget* w, gpointer list) { static_cast<std::vector<GtkWidget*>*>(list)->push_back(w); }, &children);
  for (GtkWidget* child : children) Walk(child, visit);
}

void WalkToplevels(const std::function<void(GtkWidget*)>& visit) {
  GList* tops = gtk_window_list_toplevels();
  for (GList* t = tops; t != nullptr; t = t->next) Walk(GTK_WIDGET(t->data), visit);
  g_list_free(tops);
}

// Where the first drawn widget of `type` in the padix window is, in the window's pixels.
struct Box {
  int x = -1, y = -1, width = 0, height = 0;
  double CentreX() const { return x + width / 2.0; }
  double CentreY() const { return y + height / 2.0; }
};
Box Find(GType type) {
  Box box;
  OnWindowThread([&] {
    WalkToplevels([&](GtkWidget* w) {
      if (box.x >= 0 || !G_TYPE_CHECK_INSTANCE_TYPE(w, type) || !gtk_widget_is_drawable(w)) return;
      GtkWidget* top = gtk_widget_get_toplevel(w);
      if (!GTK_IS_WINDOW(top) || g_strcmp0(gtk_window_get_title(GTK_WINDOW(top)), PADIX_WINDOW_TITLE) != 0) return;
      gtk_widget_translate_coordinates(w, top, 0, 0, &box.x, &box.y);
      box.width = gtk_widget_get_allocated_width(w);
      box.height = gtk_widget_get_allocated_height(w);
    });
  });
  return box;
}

// The labels of the shown choices marked in the submenu of the operator menu's entry `entry`
// (its text up to a colon: "Known" for "Known: Two").
std::vector<std::string> MarkedChoices(const std::string& entry) {
  std::vector<std::string> marked;
  OnWindowThread([&] {
    WalkToplevels([&](GtkWidget* w) {
      if (!GTK_IS_MENU_ITEM(w) || gtk_menu_item_get_submenu(GTK_MENU_ITEM(w)) == nullptr) return;
      const std::string label = gtk_menu_item_get_label(GTK_MENU_ITEM(w));
      if (label.substr(0, label.find(':')) != entry) return;
      GList* items = gtk_container_get_children(GTK_CONTAINER(gtk_menu_item_get_submenu(GTK_MENU_ITEM(w))));
      for (GList* i = items; i != nullptr; i = i->next) {
        GtkWidget* item = GTK_WIDGET(i->data);
        if (GTK_IS_CHECK_MENU_ITEM(item) && gtk_widget_get_visible(item) &&
            gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
          marked.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(item)));
      }
      g_list_free(items);
    });
  });
  return marked;
}

// Whether the operator menu's "Test bench panel" entry is ticked; -1 when it is not shown.
int PanelEntryTicked() {
  int ticked = -1;
  OnWindowThread([&] {
    WalkToplevels([&](GtkWidget* w) {
      if (GTK_IS_CHECK_MENU_ITEM(w) && g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), "Test bench panel") == 0 &&
          gtk_widget_get_mapped(w))
        ticked = gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w)) ? 1 : 0;
    });
  });
  return ticked;
}

std::string Text(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

const char* const LAYOUTS[] = {"One", "Two", "Three"};
int DescribeKnownAndUnknown(EmuMenuEntry* entries, int max) {
  if (max < 2) return 0;
  entries[0] = EmuMenuEntry{"Not known", EmuMenuFile::NoFile, 3, 1, LAYOUTS, -1, 0};
  entries[1] = EmuMenuEntry{"Known", EmuMenuFile::NoFile, 3, 1, LAYOUTS, 2, 0};
  return 2;
}
void ActivateNothing(int, int, const char*, char* message, int) { message[0] = '\0'; }

class GtkPanel : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x.Open()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  }
  XSession x;
};

// F9 shows the panel beside the handheld: the window grows by the panel and the handheld's keys
// stay where they were; keys typed into the panel's filter are the filter's, a click on the
// handheld gives the keys back to it; F9 again hides it. Whether it is shown is written for the
// next run. The operator menu marks no choice of an entry whose value is not known.
TEST_F(GtkPanel, ShowsBesideTheHandheldAndTakesItsOwnKeys) {
  ConfigHome config;
  ASSERT_EQ(chdir(BinDir().c_str()), 0);  // where the device picture is built
  emu_GtkSetOperatorMenu(DescribeKnownAndUnknown, ActivateNothing);
  ASSERT_EQ(emu_GtkInit({0, 0, 0}), 0);
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  int width = 0, height = 0;
  x.Size(w, &width, &height);
  ASSERT_EQ(width, 800);

  const double menuX = OnScreen(1130), menuY = OnScreen(600);
  x.Click(w, menuX, menuY, 3);
  ASSERT_TRUE(WaitFor([&] { return x.Popup() != 0; })) << "no menu on a right click";
  EXPECT_EQ(MarkedChoices("Not known"), std::vector<std::string>{});
  EXPECT_EQ(MarkedChoices("Known"), std::vector<std::string>{"Two"});
  EXPECT_EQ(PanelEntryTicked(), 0);
  x.Type(w, XK_Escape);
  ASSERT_TRUE(WaitFor([&] { return x.Popup() == 0; }));

  x.Type(w, XK_F9);
  EXPECT_TRUE(WaitFor([&] { return x.Size(w, &width, &height), width == 800 + emu_PanelWidth(); })) << width;
  EXPECT_EQ(height, 412);
  EXPECT_EQ(emu_GtkGetKey(), 0) << "F9 is the window's, not the handheld's";
  EXPECT_TRUE(WaitFor([&] { return config.Panel() == "shown\n"; })) << config.Panel();

  for (const PictureKeyArea& k : PICTURE_KEYS) {
    x.Button(w, OnScreen((k.left + k.right) / 2.0), OnScreen((k.top + k.bottom) / 2.0), true);
    EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == k.keyValue; })) << k.label;
    x.Button(w, OnScreen((k.left + k.right) / 2.0), OnScreen((k.top + k.bottom) / 2.0), false);
    EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == 0; })) << k.label;
  }

  const Box filter = Find(GTK_TYPE_SEARCH_ENTRY);
  ASSERT_GE(filter.x, 800) << "no filter in the panel";
  x.Click(w, filter.CentreX(), filter.CentreY());
  x.TypeText(w, "q 41");
  std::string typed;
  EXPECT_TRUE(WaitFor([&] {
    OnWindowThread([&] {
      WalkToplevels([&](GtkWidget* e) {
        if (GTK_IS_SEARCH_ENTRY(e)) typed = gtk_entry_get_text(GTK_ENTRY(e));
      });
    });
    return typed == "q 41";
  })) << typed;
  EXPECT_EQ(emu_GtkGetKey(), 0) << "a key typed into the panel reached the handheld";

  const PictureKeyArea& first = PICTURE_KEYS[0];
  x.Click(w, OnScreen((first.left + first.right) / 2.0), OnScreen((first.top + first.bottom) / 2.0));
  EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == 0; }));
  x.Type(w, XK_Return);
  EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == EMU_KEY_RETURN; })) << "the handheld did not get its keys back";

  x.Click(w, menuX, menuY, 3);
  ASSERT_TRUE(WaitFor([&] { return x.Popup() != 0; })) << "no menu on a right click";
  EXPECT_EQ(PanelEntryTicked(), 1);
  x.Type(w, XK_Escape);
  ASSERT_TRUE(WaitFor([&] { return x.Popup() == 0; }));

  x.Type(w, XK_F9);
  EXPECT_TRUE(WaitFor([&] { return x.Size(w, &width, &height), width == 800; })) << width;
  EXPECT_TRUE(WaitFor([&] { return config.Panel() == "hidden\n"; })) << config.Panel();
  emu_GtkSetOperatorMenu(nullptr, nullptr);
  x.Type(w, XK_q);
  EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == EMU_KEY_QUIT; }));
  EXPECT_TRUE(x.WindowGone(w));
  emu_GtkExit();
}

// padix serving an OBD program on its own pseudo-terminal, the panel shown as the last run left
// it: the traffic view holds the request the client has just made and its answer, in the log's
// own form, the tester's and the module's in two colours, and copies them.
TEST_F(GtkPanel, TrafficHoldsTheExchangeAClientJustMade) {
  ConfigHome config;
  config.Remember("shown\n");
  const std::string out = std::string(config.dir) + "/stdout.txt";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY), outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (devNull < 0 || outFd < 0 || dup2(devNull, 0) < 0 || dup2(outFd, 1) < 0 || chdir(BinDir().c_str()) != 0)
      _exit(120);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    execl((BinDir() + "/padix").c_str(), "padix", "/dev/ptmx", "sim", "elm", "serve", static_cast<char*>(nullptr));
    _exit(121);
  }
  struct EndsPadix {
    pid_t pid;
    ~EndsPadix() {
      kill(pid, SIGTERM);
      EXPECT_EQ(WaitForPadixExit(pid), 0);
    }
  } ends{pid};
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  int width = 0, height = 0;
  EXPECT_TRUE(WaitFor([&] { return x.Size(w, &width, &height), width == 800 + emu_PanelWidth(); }))
      << "the panel was not shown as the last run left it: " << width;
  std::string terminal;
  ASSERT_TRUE(WaitFor([&] {
    const std::string text = Text(out);
    const size_t at = text.find("/dev/pts/");
    if (at == std::string::npos || text.find('\n', at) == std::string::npos) return false;
    terminal = text.substr(at, text.find_first_of(" \n", at) - at);
    return true;
  })) << Text(out);

  // The traffic view: the tallest white run down the middle of the panel, found while it is
  // still empty.
  ASSERT_TRUE(x.WaitUntilStill(w));
  const int column = 800 + emu_PanelWidth() / 2;
  int top = -1, bottom = -1;
  for (int y = 0, runStart = -1; y <= height; ++y) {
    const Rgb p = y < height ? x.Pixel(w, column, y) : Rgb{0, 0, 0};
    const bool white = p.r == 255 && p.g == 255 && p.b == 255;
    if (white && runStart < 0) runStart = y;
    if (!white && runStart >= 0) {
      if (y - runStart > bottom - top) top = runStart, bottom = y;
      runStart = -1;
    }
  }
  ASSERT_GT(bottom - top, 60) << "no traffic view in the panel";

  const int fd = open(terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0) << terminal;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  ASSERT_EQ(write(fd, "010C\r", 5), 5);
  std::string answer;
  EXPECT_TRUE(WaitFor(
      [&] {
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) answer.append(buf, static_cast<size_t>(n));
        return answer.find("41 0C") != std::string::npos && answer.back() == '>';
      },
      10000))
      << answer;

  // Blue for the tester, green for the module, somewhere in the view's text.
  auto holdsColour = [&](Rgb colour) {
    for (int y = top; y < bottom; ++y)
      for (int xx = 808; xx < 800 + emu_PanelWidth() - 8; ++xx)
        if (Near(x.Pixel(w, xx, y), colour, 40)) return true;
    return false;
  };
  EXPECT_TRUE(WaitFor([&] { return holdsColour({0x1f, 0x5f, 0xbf}); }, 5000, 200)) << "no tester entry";
  EXPECT_TRUE(WaitFor([&] { return holdsColour({0x2e, 0x8b, 0x3a}); }, 5000, 200)) << "no module entry";
  EXPECT_TRUE(x.SavePng(w, BinDir() + "/gtk_window_panel.png"));

  x.Click(w, column, (top + bottom) / 2.0);
  x.TypeWithControl(w, XK_a);
  x.TypeWithControl(w, XK_c);
  std::string copied;
  EXPECT_TRUE(WaitFor([&] {
    copied = x.Clipboard();
    return copied.find("tester 010C<0D>") != std::string::npos;
  })) << copied;
  EXPECT_TRUE(std::regex_search(copied, std::regex("[0-9]+\\.[0-9]{3} module [^\\n]*41 0C"))) << copied;
  close(fd);
}

int DescribeLoadVehicle(EmuMenuEntry* entries, int max) {
  if (max < 1) return 0;
  entries[0] = EmuMenuEntry{"Load vehicle...", EmuMenuFile::OpenFile, 0, 0, nullptr, -1, 0};
  return 1;
}
std::string loadedPath;
void NoteLoadedPath(int, int, const char* path, char* message, int) {
  loadedPath = path;
  message[0] = '\0';
}

// The folder the open file chooser shows, resolved; "" when none is open.
std::string ChooserFolder() {
  std::string folder;
  OnWindowThread([&] {
    WalkToplevels([&](GtkWidget* w) {
      if (!GTK_IS_FILE_CHOOSER_DIALOG(w) || !gtk_widget_get_mapped(w)) return;
      char* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(w));
      if (f != nullptr) folder = std::filesystem::weakly_canonical(f).string();
      g_free(f);
    });
  });
  return folder;
}

// "Load vehicle..." opens its chooser in the example vehicles' folder (here the tree's, beside
// the build folder), then where the last file was chosen.
TEST_F(GtkPanel, VehicleFileChooserOpensInTheExamplesThenInTheLastFolderUsed) {
  ConfigHome config;
  const std::string vehicle = std::string(config.dir) + "/mine.toml";
  std::ofstream(vehicle) << "ecus = 1\n";
  setenv("GSETTINGS_BACKEND", "memory", 1);  // the chooser keeps no settings of the desktop's
  ASSERT_EQ(chdir(BinDir().c_str()), 0);
  emu_GtkSetOperatorMenu(DescribeLoadVehicle, NoteLoadedPath);
  ASSERT_EQ(emu_GtkInit({0, 0, 0}), 0);
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  auto openChooser = [&] {
    x.Click(w, OnScreen(1130), OnScreen(600), 3);
    if (!WaitFor([&] { return x.Popup() != 0; })) return Window{0};
    x.Type(w, XK_Down);
    x.Type(w, XK_Return);
    return x.FindWindowNamed("Load vehicle", 5000);
  };
  Window chooser = openChooser();
  ASSERT_NE(chooser, 0u) << "no file chooser from \"Load vehicle...\"";
  const std::string examples =
      std::filesystem::weakly_canonical(std::filesystem::path(PADIX_SOURCE_DIR) / "examples/vehicles").string();
  EXPECT_TRUE(WaitFor([&] { return ChooserFolder() == examples; })) << ChooserFolder();

  ASSERT_TRUE(x.WaitUntilStill(chooser));
  x.TypeText(chooser, "/");
  ASSERT_TRUE(x.WaitUntilStill(chooser));
  x.TypeText(chooser, vehicle.substr(1));
  x.Type(chooser, XK_Return);
  EXPECT_TRUE(WaitFor([&] { return x.FindWindowNamed("Load vehicle", 0) == 0; })) << "the chooser stays open";
  EXPECT_TRUE(WaitFor([&] { return OnWindowThread([] {}) && loadedPath == vehicle; })) << loadedPath;

  chooser = openChooser();
  ASSERT_NE(chooser, 0u) << "no file chooser the second time";
  EXPECT_TRUE(WaitFor([&] { return ChooserFolder() == std::filesystem::weakly_canonical(config.dir).string(); }))
      << ChooserFolder();
  x.Type(chooser, XK_Escape);
  EXPECT_TRUE(WaitFor([&] { return x.FindWindowNamed("Load vehicle", 0) == 0; }));
  emu_GtkSetOperatorMenu(nullptr, nullptr);
  x.Type(w, XK_q);
  EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == EMU_KEY_QUIT; }));
  EXPECT_TRUE(x.WindowGone(w));
  emu_GtkExit();
}

}  // namespace
