#!/usr/bin/env python3
"""scripts/check-readme-names on a small tree of its own: a README whose "Depends on" line omits a
module its target links, and a `Class::member` pair whose member is another class's, each fail;
the same tree with both put right passes."""
import os
import subprocess
import sys
import tempfile

SCRIPT = sys.argv[1]

HEADER = """#pragma once
namespace zs::a {
class Widget {
  public:
    void draw();
};
class Other {
  public:
    void paint();
};
} // namespace zs::a
"""


def tree(root, depends, names):
    files = {
        "platform/a/CMakeLists.txt": "zs_add_library(zs_a zs::a CORE SOURCES A.cpp)\n"
        "target_link_libraries(zs_a PUBLIC zs::time\n                      PRIVATE zs::b)\n",
        "platform/a/A.h": HEADER,
        "platform/a/A.cpp": '#include "a/A.h"\nvoid zs::a::Widget::draw() {}\nvoid zs::a::Other::paint() {}\n',
        "platform/a/README.md": f"# platform/a\n\nWidgets: {names}.\n\n{depends}\n",
        "platform/b/CMakeLists.txt": "zs_add_library(zs_b zs::b CORE SOURCES B.cpp)\n",
        "platform/b/B.cpp": "int b() { return 0; }\n",
        "platform/b/README.md": "# platform/b\n\nDepends on: nothing.\n",
        "platform/time/CMakeLists.txt": "zs_add_library(zs_time zs::time CORE SOURCES T.cpp)\n",
        "platform/time/T.cpp": "int t() { return 0; }\n",
        "platform/time/README.md": "# platform/time\n\nDepends on: nothing.\n",
    }
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


def check(depends, names):
    with tempfile.TemporaryDirectory() as root:
        tree(root, depends, names)
        r = subprocess.run([sys.executable, SCRIPT, "--root", root], capture_output=True, text=True)
        return r.returncode, r.stdout + r.stderr


cases = [
    # name, "Depends on" paragraph, backticked names, rc, a text the report must hold
    ("both right", "Depends on `platform/time` and `zs::b`.", "`Widget::draw`, `zs::a::Other::paint`", 0, ""),
    ("a linked module left out", "Depends on `platform/time`.", "`Widget::draw`", 1,
     'links zs::b (platform/b), which "Depends on" does not name'),
    ("no Depends line at all", "", "`Widget::draw`", 1, 'no "Depends on" line'),
    ("another class's member", "Depends on: time, b.", "`Widget::paint`", 1, "Widget has no member paint"),
    ("a member no class has", "Depends on: time, b.", "`zs::a::Other::draws`", 1, "draws is in no source file"),
]
failed = 0
for name, depends, names, rc, text in cases:
    got_rc, out = check(depends, names)
    if got_rc != rc or text not in out:
        print(f"FAIL {name}: rc {got_rc} (want {rc}), output:\n{out}")
        failed += 1
    else:
        print(f"ok   {name}")
sys.exit(1 if failed else 0)
