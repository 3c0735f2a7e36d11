#pragma once
// What the two departure boards share: the title rows by layout variant, the description of a
// board's bands and columns, the frame painter and the row painter. Positions are grid steps; each
// board keeps its own numbers in one constexpr table of this shape.
#include <array>
#include <span>
#include <string>

#include "pages/pages.h"

namespace plasma::boards {

// The entry of a table indexed by layout variant 1..N; any other variant is a subscript error.
// Rows of the title and of the column headings: at the top on variants 1 and 2, the table moved up
// and the title at the bottom on 3 and 4.
struct TitleRows {
  double title;
  double heading;
};
inline constexpr std::array<TitleRows, 4> kTitleRows{{
    {.title = 10, .heading = 38},
    {.title = 10, .heading = 38},
    {.title = 120, .heading = 10},
    {.title = 120, .heading = 10},
}};

inline TitleRows titleRows(Int16 layoutVariant) { return forLayoutVariant(kTitleRows, layoutVariant); }

// One row band and the lines its texts stand on, in grid steps below the heading row.
struct RowSlot {
  double bandTop;
  double bandBottom;
  double rightEnd;          // the band's right end, also the centre of its rounded end
  double centre;            // centre of the band, the destination and the platform
  double numberCentre;      // centre of the minutes number or "Now..."
  double minutesReference;  // the "Minutes" label sits 5 px above this line plus half the number
};

struct Heading {
  const char* text;
  double x;
};

// Everything that tells one board from the other.
struct BoardLayout {
  double headingFont;
  std::span<const Heading> headings;
  double discRadius;  // in steps of unitY
  std::span<const RowSlot> slots;
  double rowFont;
  double destinationX;
  double minutesX;
  double platformX;  // negative: the board has no platform column
};

// The bottom notice of a short list.
enum class Notice { None, LastTrain, LastTrains };

// What one row shows.
struct BoardEntry {
  std::string destination;
  Int16 minutes;
  Int16 platform;
};

// Row bands are blue for board options 0 and 1, green for any other.
Colour bandColour(Int16 boardOption);

// Paints the board without its rows on a fresh canvas: background, title, headings, the first
// `bands` bands, the notice and the frame. Returns the grid the rows are placed on.
Grid paintBoardFrame(Display& d, const BoardLayout& layout, int bands, Notice notice);

// Paints one row into its slot: destination, minutes (or "Now..." with under 2 minutes left) with
// the "Minutes" label, and the platform where the board has that column.
void paintBoardRow(Surface& canvas, const Grid& grid, const BoardLayout& layout, double headingRow,
                   const RowSlot& slot, const BoardEntry& entry);

}  // namespace plasma::boards
