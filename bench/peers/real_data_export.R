# Writes the R data sets of bench/real_data.sh as CSV files into the folder
# given as the only argument: one header row, the target in the last column,
# categories as their labels (numeric-coded ones are listed in
# bench/peers/real_data.py), missing values as empty cells. Every data set
# comes from a Debian package: r-base-core (datasets), r-cran-mass and
# r-cran-mlbench. Started by bench/peers/real_data.py.

args <- commandArgs(trailingOnly = TRUE)
if (length(args) != 1) stop("usage: Rscript real_data_export.R FOLDER")
out <- args[1]
suppressPackageStartupMessages({
  library(MASS)
  library(mlbench)
})

yes_no <- function(x) ifelse(x == 1, "yes", "no")

# The files are written unquoted, so a comma inside a label would shift the
# cells of its record: refuse rather than write a broken file.
put <- function(name, frame) {
  for (column in names(frame)) {
    if (is.factor(frame[[column]]) || is.logical(frame[[column]]))
      frame[[column]] <- as.character(frame[[column]])
    if (is.character(frame[[column]]) && any(grepl(",", frame[[column]], fixed = TRUE)))
      stop(name, ": a label of ", column, " holds a comma")
  }
  write.csv(frame, file.path(out, paste0(name, ".csv")), row.names = FALSE, na = "",
            quote = FALSE)
}

# Every passenger and crew member of the 1912 voyage, one row each, from the
# table of counts.
titanic <- as.data.frame(Titanic)
titanic <- titanic[rep(seq_len(nrow(titanic)), titanic$Freq), c("Class", "Sex", "Age", "Survived")]
put("titanic", titanic)

# The case-control study of oesophageal cancer, one row per person.
cases <- esoph[rep(seq_len(nrow(esoph)), esoph$ncases), c("agegp", "alcgp", "tobgp")]
controls <- esoph[rep(seq_len(nrow(esoph)), esoph$ncontrols), c("agegp", "alcgp", "tobgp")]
cases$status <- "case"
controls$status <- "control"
put("esoph", rbind(cases, controls))

# Infertility after abortion; the matching strata are record numbers, not fields.
put("infert", data.frame(education = infert$education, age = infert$age,
                         parity = infert$parity, induced = infert$induced,
                         spontaneous = infert$spontaneous,
                         status = ifelse(infert$case == 1, "case", "control")))

# Low birth weight; the weight itself (bwt) gives the class away.
put("birthwt", data.frame(age = birthwt$age, lwt = birthwt$lwt,
                          race = c("white", "black", "other")[birthwt$race],
                          smoke = yes_no(birthwt$smoke), ptl = birthwt$ptl,
                          ht = yes_no(birthwt$ht), ui = yes_no(birthwt$ui), ftv = birthwt$ftv,
                          low = ifelse(birthwt$low == 1, "low", "normal")))

# Students' answers; the sex is the target, the one record without it is dropped.
survey_known <- survey[!is.na(survey$Sex), ]
put("survey", survey_known[, c("Wr.Hnd", "NW.Hnd", "W.Hnd", "Fold", "Pulse", "Clap", "Exer",
                               "Smoke", "Height", "M.I", "Age", "Sex")])

data(Zoo)
put("zoo", Zoo)
data(Vehicle)
put("vehicle", Vehicle)
data(Sonar)
put("sonar", Sonar)

# Daily ozone in New York, May to September 1973; the days without an ozone
# reading are dropped, Month is a category (numeric-coded).
aq <- airquality[!is.na(airquality$Ozone), ]
put("airquality", aq[, c("Solar.R", "Wind", "Temp", "Month", "Day", "Ozone")])

# Daily maximum ozone near Los Angeles, 1976; month and day of the week are
# categories (numeric-coded), the days without the target are dropped.
data(Ozone)
oz <- data.frame(month = as.integer(Ozone$V1), day_of_month = as.integer(Ozone$V2),
                 day_of_week = as.integer(Ozone$V3), pressure_height = Ozone$V5,
                 wind_speed = Ozone$V6, humidity = Ozone$V7, temp_sandburg = Ozone$V8,
                 temp_el_monte = Ozone$V9, inversion_base_height = Ozone$V10,
                 pressure_gradient = Ozone$V11, inversion_base_temp = Ozone$V12,
                 visibility = Ozone$V13, ozone = Ozone$V4)
put("ozone", oz[!is.na(oz$ozone), ])

# Rise time of a servomechanism; the two gains are numeric-coded categories.
data(Servo)
put("servo", data.frame(motor = Servo$Motor, screw = Servo$Screw,
                        pgain = as.integer(as.character(Servo$Pgain)),
                        vgain = as.integer(as.character(Servo$Vgain)), rise_time = Servo$Class))

# Price of the 1993 cars; names and the price range (which gives the price
# away) are left out.
cars <- Cars93[, setdiff(names(Cars93), c("Manufacturer", "Model", "Make", "Min.Price",
                                          "Max.Price", "Price"))]
cars$Price <- Cars93$Price
put("cars93", cars)
