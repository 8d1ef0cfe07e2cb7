# GLFW and Dear ImGui compiled from their own source trees for the Windows
# build (no Windows packages of either exist here). The trees are used in
# place: nothing of them is copied into the repository.

# GLFW through its own CMake, as a static library without its extras.
set(GLFW_BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
set(GLFW_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(GLFW_BUILD_DOCS OFF CACHE BOOL "" FORCE)
set(GLFW_INSTALL OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
add_subdirectory(${QUILLMERE_GLFW_DIR} ${CMAKE_BINARY_DIR}/glfw EXCLUDE_FROM_ALL)
target_compile_options(glfw PRIVATE -w)  # its warnings are not ours to fix

# Dear ImGui's core and the two backends the window uses. Its headers are
# reached as <imgui.h> and <backends/...>, as with Debian's package.
set(imgui ${QUILLMERE_IMGUI_DIR})
add_library(quillmere_imgui STATIC
  ${imgui}/imgui.cpp
  ${imgui}/imgui_draw.cpp
  ${imgui}/imgui_tables.cpp
  ${imgui}/imgui_widgets.cpp
  ${imgui}/backends/imgui_impl_glfw.cpp
  ${imgui}/backends/imgui_impl_opengl3.cpp
)
target_include_directories(quillmere_imgui PUBLIC ${imgui})
target_link_libraries(quillmere_imgui PUBLIC glfw opengl32 gdi32)
# Someone else's code: its warnings are not ours to fix.
target_compile_options(quillmere_imgui PRIVATE -w)

add_library(quillmere_window_libraries INTERFACE)
# quillmere_imgui brings GLFW, opengl32 and gdi32; the pickers need COM.
target_link_libraries(quillmere_window_libraries INTERFACE quillmere_imgui ole32 shell32 uuid)
