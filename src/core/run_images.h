// The images a run may send: the one the program carries and those given with --image FILE, each
// for the product its header names; and which of them a device gets, by its "Product Name".
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/firmware_images.h"

// Image files a run takes at most: the product table names fewer products than that.
constexpr int RUN_IMAGE_FILES_MAX = 8;

struct RunImage {
    FirmwareImage image;
    const char* product;  // the label its header selects in the product table, or the default
    int is_phone_model;
    std::string file;  // the file it came from; empty: the program's own
};

// Whether a device whose status page gives this "Product Name" is of a model the label names.
// Both are read as words: runs of letters (in any case) and runs of digits, every other character
// only parting them, so "TEV-4400", "tev 4400" and "TEV4400" are the same two words. The device
// matches when the words of one of the label's models stand together in its name, which may say
// more ("TEV-4400 VoIP Adapter"); a number is a whole word, so "TEV-44001" is no TEV-4400. A label
// with a slash names several models, the later ones taking the letters of the first
// ("TEV-4000/4200": TEV-4000 and TEV-4200). The default label of an unknown header is no
// exception: only a name that holds it matches.
bool product_name_matches(const char* product_name, const char* label);

// The image of these bytes (which must outlive it), its product from its header.
RunImage run_image_of(const std::uint8_t* data, std::uint32_t size, const std::string& file);

// The program's own image as start-up loaded it: the first a device may get.
void run_images_use_carried(const FirmwareImage& image);
// nullptr until start-up has loaded it.
const RunImage* run_images_carried();
// An image from a file, known by its header (the first 128 bytes, or as many as its size when
// fewer) and its size; its bytes are read only when a device gets it (run_image_load), so that a
// run's many children do not each hold every image. False with *problem ("shorter than its
// 128-byte header", "its product TEV-4400 already has an image: this program's own") when it is
// no image to send or its product has an image already; the program's own is read from its
// resources when start-up has not loaded it yet.
bool run_images_add(const std::string& file, const std::uint8_t* header, std::uint64_t size,
                    std::string* problem);
// The file read through once (nothing of it kept but its header), then run_images_add. False with
// *problem: "can't read the image file h.bin: No such file or directory", "the image file h.bin:
// shorter than its 128-byte header".
bool run_images_add_file(const char* path, std::string* problem);
// The bytes of a file's image, read when a device gets it (the program's own are always there).
// False with *problem when the file can no longer be read or is no longer the one checked at the
// start.
bool run_image_load(const RunImage* image, std::string* problem);
const std::vector<RunImage>& run_image_files();
// Forgets every image (tests).
void run_images_clear();

// The image a device gets: the first whose product its name matches, the program's own first;
// nullptr when none does.
const RunImage* run_image_for_product(const char* product_name);
// Why a device gets none: "TEV-610; the image is for TEV-4400", "...; the images are for
// TEV-4400, TEV-610".
std::string other_model_reason(const char* product_name);

// The image chosen for the run's device: nullptr before the choice, or when it is of another
// model. The events and the report say it.
void run_image_choose(const RunImage* image);
const RunImage* run_image_chosen();
// Its product and version: "TEV-610 1.5.0".
std::string run_image_text(const RunImage& image);
