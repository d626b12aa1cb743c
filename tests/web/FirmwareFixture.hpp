#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace wheelbox::test {

// A small firmware folder in a temporary directory, beside a secret the handler must never serve:
//   <base>/Web/index.html  css/device.css  img/LOGO.PNG  notes.txt  LICENSE  js/ (a folder)
//   <base>/Web/out -> <base>/secret.txt     <base>/Web/inside -> css/device.css
//   <base>/Web/up -> <base>                 <base>/Web/loop -> loop
//   <base>/Web/pipe (a FIFO)                <base>/secret.txt
class FirmwareFixture {
  public:
    FirmwareFixture()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "wheelbox-web.XXXXXX").string();
        base_ = ::mkdtemp(pattern.data());
        root_ = base_ / "Web";
        std::filesystem::create_directories(root_ / "css");
        std::filesystem::create_directories(root_ / "img");
        std::filesystem::create_directories(root_ / "js");
        write(root_ / "index.html", "<!doctype html><title>Wheelbox</title>");
        write(root_ / "css/device.css", "body { margin: 0 }");
        write(root_ / "img/LOGO.PNG", std::string("\x89PNG\r\n\x1a\n", 8));
        write(root_ / "notes.txt", "notes");
        write(root_ / "LICENSE", "license");
        write(base_ / "secret.txt", "secret");
        std::filesystem::create_symlink(base_ / "secret.txt", root_ / "out");
        std::filesystem::create_symlink("css/device.css", root_ / "inside");
        std::filesystem::create_symlink(base_, root_ / "up");
        std::filesystem::create_symlink("loop", root_ / "loop");
        ::mkfifo((root_ / "pipe").c_str(), 0600);
    }
    ~FirmwareFixture() { std::filesystem::remove_all(base_); }

    const std::filesystem::path &base() const { return base_; }
    const std::filesystem::path &root() const { return root_; }

    static void write(const std::filesystem::path &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

  private:
    std::filesystem::path base_;
    std::filesystem::path root_;
};

} // namespace wheelbox::test
