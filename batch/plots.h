// The pictures of --plots: one SVG file per fit, drawn by the writer of
// tavrick-sketch -sketchformat svg, and an index page of every row.
#pragma once

#include <string>
#include <vector>

#include "batch/fit.h"
#include "results/fit.h"
#include "results/record.h"

namespace batch {

// The file name (no folder) of the picture of the fit whose lowest line is
// the line-th of the lines file in this spectrum: the spectrum name with
// every character but letters, digits, '_', '-' and '.' as '_' (and, when
// that changed or shortened it, its hash), then ".lineN.svg". One name per
// fit, the same in every run and shard.
std::string plot_name(const std::string& spectrum, int line);

// The SVG picture of the fit of rec, which ws holds (the fit just done on it),
// as tavrick-sketch -sketchformat svg draws the same fit from rec.arguments.
std::string fit_svg(const tavrick::results::Record& rec, const tavrick::results::FitWorkspace& ws);

// The index page: a table of the rows (in their order), sortable by a click
// on a column's head, each fitted row linking to its picture (Row::plot).
// No external address: it works from the file system.
std::string index_html(const std::vector<Row>& rows);

// Creates the folder (and its parents) unless it exists. False with a
// one-line reason when it cannot.
bool make_plot_dir(const std::string& dir, std::string& error);

}  // namespace batch
