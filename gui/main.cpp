// quillmere_gui: one 960 by 640 window whose whole client area is the main
// panel, redrawn every frame on the main thread while a worker copies.
//
// Order matters at both ends. Start-up: GLFW, the window and its OpenGL 3.2
// core context, the Dear ImGui context with the style, the font and the two
// backends, then the copy controller and the panel state. Shutdown: the
// backends, the Dear ImGui context, the window and GLFW go first; only then
// are the panel state and the controller released (which cancels and joins a
// running copy), and last the glyph ranges the font atlas pointed at.
#include "gui/copy_controller.h"
#include "gui/fonts.h"
#include "gui/main_panel.h"
#include "gui/style.h"
#include "platform/win32.h"

#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <cstdio>
#include <exception>
#include <optional>

namespace quillmere {
namespace {

constexpr int kWindowWidth = 960;
constexpr int kWindowHeight = 640;
constexpr const char* kWindowTitle = "Quillmere";
constexpr const char* kGlslVersion = "#version 150";

// The panel has no title bar and cannot be resized, moved or collapsed; its
// scroll bars stay, for a window made smaller than the panel's contents.
constexpr ImGuiWindowFlags kPanelFlags =
    ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse;
static_assert(kPanelFlags == 39, "the full-window panel's flags");

void OnGlfwError(int code, const char* description) {
  std::fprintf(stderr, "GLFW Error %d: %s\n", code, description != nullptr ? description : "");
}

// GLFW from a successful glfwInit to glfwTerminate.
class GlfwLibrary {
 public:
  GlfwLibrary() : initialised_(glfwInit() == GLFW_TRUE) {}
  ~GlfwLibrary() {
    if (initialised_) glfwTerminate();
  }
  GlfwLibrary(const GlfwLibrary&) = delete;
  GlfwLibrary& operator=(const GlfwLibrary&) = delete;
  bool initialised() const { return initialised_; }

 private:
  bool initialised_;
};

// The program's window with its OpenGL 3.2 core, forward-compatible context;
// null when GLFW could not create it (GLFW has reported why).
class MainWindow {
 public:
  MainWindow() {
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 2);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, 1);
    window_ = glfwCreateWindow(kWindowWidth, kWindowHeight, kWindowTitle, nullptr, nullptr);
  }
  ~MainWindow() {
    if (window_ != nullptr) glfwDestroyWindow(window_);
  }
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  GLFWwindow* get() const { return window_; }

 private:
  GLFWwindow* window_ = nullptr;
};

// The Dear ImGui context with the window's style and font and both backends,
// on the window's current context. glyphs must outlive this object.
class UserInterface {
 public:
  UserInterface(GLFWwindow* window, GlyphRanges& glyphs) {
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    ApplyStyle();
    BuildGlyphRanges(*io.Fonts, glyphs);
    AddWindowFont(*io.Fonts, LocalFontFile(kWindowFontPath).c_str(), kWindowFontSize, glyphs.ranges.Data);
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init(kGlslVersion);
  }
  ~UserInterface() {
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();  // writes imgui.ini in the current folder
  }
  UserInterface(const UserInterface&) = delete;
  UserInterface& operator=(const UserInterface&) = delete;
};

// Finishes, draws and presents the current frame.
void RenderFrame(GLFWwindow* window) {
  ImGui::Render();
  int width = 0;
  int height = 0;
  glfwGetFramebufferSize(window, &width, &height);  // 0 by 0 while minimised
  glViewport(0, 0, width, height);
  glClearColor(0.953f, 0.953f, 0.953f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  glfwSwapBuffers(window);
}

// One frame: the panel covers the whole client area and follows its size.
void DrawFrame(GLFWwindow* window, CopyController& controller, MainPanelState& state) {
  ImGui_ImplOpenGL3_NewFrame();
  ImGui_ImplGlfw_NewFrame();
  ImGui::NewFrame();
  ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), 0, ImVec2(0.0f, 0.0f));
  ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize, 0);
  ImGui::Begin(kWindowTitle, nullptr, kPanelFlags);
  DrawMainPanel(window, controller, state);
  ImGui::End();
  RenderFrame(window);
}

// Until the user closes the window. Polls rather than waits, so progress is
// current every frame; swap interval 1 keeps it to one frame per refresh.
void RunFrameLoop(GLFWwindow* window, CopyController& controller, MainPanelState& state) {
  while (!glfwWindowShouldClose(window)) {
    glfwPollEvents();
    DrawFrame(window, controller, state);
  }
}

int RunWindowedProgram() {
  glfwSetErrorCallback(OnGlfwError);  // before glfwInit, so its failures are reported
  // Declared before the window and the user interface so that they are
  // released after them, in the shutdown order above.
  GlyphRanges glyphs;
  std::optional<CopyController> controller;
  std::optional<MainPanelState> panelState;

  GlfwLibrary glfw;
  if (!glfw.initialised()) return 1;
  MainWindow window;
  if (window.get() == nullptr) return 1;
  glfwMakeContextCurrent(window.get());
  glfwSwapInterval(1);
  UserInterface userInterface(window.get(), glyphs);
  controller.emplace(GetErrorLogPath());
  panelState.emplace();

  RunFrameLoop(window.get(), *controller, *panelState);
  return 0;
}

}  // namespace
}  // namespace quillmere

// No arguments, no console. 0 after the window was closed and the copy
// worker has stopped; 1 when GLFW or the window cannot be set up, or when
// the standard library throws (the window and the worker are still shut down
// in order on the way out).
int main() {
  // An output nobody reads any more loses its text, and a copy that reaches
  // the file size limit fails; either way the run goes on.
  IgnoreFailingWriteSignals();
  try {
    return quillmere::RunWindowedProgram();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Unexpected error: %s\n", error.what());
  } catch (...) {
    std::fprintf(stderr, "Unexpected error (unknown exception)\n");
  }
  return 1;
}
