#!/usr/bin/python3
"""For the e2e driver, which Wine lets start it directly; writes in the folder of this copy.
x11.py cursor: the pointer's picture as WxH+HOTX+HOTY:DIGEST to x11.out, which appears whole
x11.py url ADDRESS: appends the address to url.log, standing in for the browser"""
import ctypes as c
import hashlib
import os
import sys

os.chdir(os.path.dirname(os.path.abspath(__file__)))
if sys.argv[1] == "url":
    with open("url.log", "a") as log:
        log.write(sys.argv[2] + "\n")
    sys.exit()
x11, xfixes = c.CDLL("libX11.so.6"), c.CDLL("libXfixes.so.3")
x11.XOpenDisplay.restype = c.c_void_p
xfixes.XFixesQueryVersion.argtypes = [c.c_void_p, c.c_void_p, c.c_void_p]
xfixes.XFixesGetCursorImage.argtypes = [c.c_void_p]
xfixes.XFixesGetCursorImage.restype = c.POINTER(c.c_ulong)  # XFixesCursorImage
display = x11.XOpenDisplay(None)
xfixes.XFixesQueryVersion(display, c.byref(c.c_int(6)), c.byref(c.c_int(0)))
image = xfixes.XFixesGetCursorImage(display)
head = c.cast(image, c.POINTER(c.c_ushort))  # x, y, width, height, xhot, yhot; serial, pixels
pixels = c.cast(image[3], c.POINTER(c.c_ulong * (head[2] * head[3]))).contents
with open("x11.tmp", "w") as out:
    out.write(f"{head[2:6]}:{hashlib.sha1(bytes(pixels)).hexdigest()}")
os.replace("x11.tmp", "x11.out")
